// tvstrip_plain: a plain, first-version stripping correction program, kept
// only as a baseline for timing whole tvstrip runs.  It reads the same
// exchange files, prints the same console text and writes the same result
// file as tvstrip's standard method, written the way one would write it
// first: iostreams, std::string, one response file read per energy code
// through Dataname.kat, no tables prepared ahead.
//
// Error handling is minimal: a message on stderr and exit status 1, with no
// result file written.  Result paths holding Shift_JIS text are converted to
// UTF-8 with iconv like tvstrip does.
#include <iconv.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& what)
{
    std::cout.flush();
    std::cerr << "tvstrip_plain: " << what << '\n';
    std::exit(1);
}

// Reads one line without its line end (CR LF or LF).
std::string readLine(std::istream& in, const std::string& file)
{
    std::string line;
    if (!std::getline(in, line))
        fail(file + ": unexpected end of file");
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

bool isLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The first n bytes of a line, padded with blanks.  When the cut falls
// inside a double-byte character its first half becomes a blank.
std::string textField(const std::string& line, std::size_t n)
{
    std::string out = line.substr(0, n);
    if (line.size() > n) {
        std::size_t i = 0;
        while (i < out.size()) {
            if (isLeadByte(static_cast<unsigned char>(out[i]))) {
                if (i + 1 >= out.size()) {
                    out[i] = ' ';
                    break;
                }
                i += 2;
            } else {
                ++i;
            }
        }
    }
    out.resize(n, ' ');
    return out;
}

std::string trimRight(const std::string& s)
{
    std::size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

// A path as the front end writes it ("Tarvik_data\name.mca1"): backslashes
// become slashes and Shift_JIS text becomes UTF-8 (bytes that do not
// convert are kept).
std::string localPath(const std::string& sjisPath)
{
    std::string path;
    for (std::size_t i = 0; i < sjisPath.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(sjisPath[i]);
        if (isLeadByte(c) && i + 1 < sjisPath.size()) {
            path += sjisPath[i];
            path += sjisPath[i + 1];
            ++i;
        } else if (c == '\\') {
            path += '/';
        } else {
            path += sjisPath[i];
        }
    }
    bool ascii = true;
    for (char c : path)
        if (static_cast<unsigned char>(c) >= 0x80)
            ascii = false;
    if (ascii)
        return path;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return path;
    std::string out;
    char* inp = path.data();
    std::size_t inLeft = path.size();
    while (inLeft > 0) {
        char buf[256];
        char* outp = buf;
        std::size_t outLeft = sizeof buf;
        std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        out.append(buf, static_cast<std::size_t>(outp - buf));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out += *inp;  // a byte that does not convert is kept
            ++inp;
            --inLeft;
        }
    }
    iconv_close(cd);
    return out;
}

// The first item of a list-directed line.
std::string firstItem(const std::string& line)
{
    std::size_t b = line.find_first_not_of(' ');
    if (b == std::string::npos)
        return std::string();
    std::size_t e = line.find_first_of(" ,/", b);
    return line.substr(b, e == std::string::npos ? std::string::npos : e - b);
}

std::string withoutBlanks(const std::string& field)
{
    std::string s;
    for (char c : field)
        if (c != ' ')
            s += c;
    return s;
}

int intField(const std::string& field)
{
    std::string s = withoutBlanks(field);
    if (s.empty())
        return 0;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0')
        fail("not a whole number: \"" + field + "\"");
    return static_cast<int>(v);
}

// A real field without implied decimals ("F8.0"): blanks ignored, all blank is 0.
float realField(const std::string& field)
{
    std::string s = withoutBlanks(field);
    if (s.empty())
        return 0.0f;
    char* end = nullptr;
    float v = std::strtof(s.c_str(), &end);
    if (*end != '\0')
        fail("not a number: \"" + field + "\"");
    return v;
}

// "I w": right-justified, asterisks when too wide.
std::string formatI(long value, int width)
{
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) > width)
        return std::string(width, '*');
    return std::string(width - s.size(), ' ') + s;
}

// "F w.d": the exact value rounded half up in its decimal digits, no 0
// before the point, asterisks when too wide.
std::string formatF(double value, int width, int decimals)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", decimals + 24, std::fabs(value));
    std::string s = buf;
    std::size_t dot = s.find('.');
    std::string digits = s.substr(0, dot) + s.substr(dot + 1, decimals);
    if (s[dot + 1 + decimals] >= '5') {
        int i = static_cast<int>(digits.size()) - 1;
        while (i >= 0 && digits[i] == '9')
            digits[i--] = '0';
        if (i >= 0)
            ++digits[i];
        else
            digits.insert(digits.begin(), '1');
    }
    std::string whole = digits.substr(0, digits.size() - decimals);
    std::string frac = digits.substr(digits.size() - decimals);
    whole.erase(0, whole.find_first_not_of('0'));
    std::string text;
    if (value < 0 && (whole + frac).find_first_not_of('0') != std::string::npos)
        text += '-';
    text += whole + "." + frac;
    if (static_cast<int>(text.size()) > width)
        return std::string(width, '*');
    return std::string(width - text.size(), ' ') + text;
}

void waitForEnter()
{
    std::cout.flush();
    std::string ignored;
    std::getline(std::cin, ignored);
}

// Loads the response table of an energy code into r(1..300): the name
// passes through Dataname.kat, then 30 records of ten 8-column fields.
void loadResponse(int code, std::vector<float>& r)
{
    {
        std::ofstream scratch("Dataname.kat", std::ios::binary);
        scratch << "RES\\" << code << "kev.dat\r\n";
        if (!scratch)
            fail("Dataname.kat: cannot write the file");
    }
    std::string name;
    {
        std::ifstream scratch("Dataname.kat", std::ios::binary);
        if (!scratch)
            fail("Dataname.kat: cannot open the file");
        name = trimRight(textField(readLine(scratch, "Dataname.kat"), 30));
    }
    std::string path = localPath(name);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail(path + ": cannot open the response table");
    for (int rec = 0; rec < 30; ++rec) {
        std::string line = readLine(in, path);
        for (int f = 0; f < 10; ++f) {
            std::string field = line.size() > static_cast<std::size_t>(8 * f) ? line.substr(8 * f, 8) : "";
            r[10 * rec + f + 1] = realField(field);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--help") {
        std::cout << "Usage: tvstrip_plain\nA plain stripping correction for timing comparisons; run it\n"
                     "where tvstrip runs (TempFile.dat, Com.txt, RES/).\n";
        return 0;
    }

    // TempFile.dat: result path, two comments, V, w, the 1024 counts.
    std::string resultPath, comment1, comment2;
    int V = 0;
    float w = 0.0f;
    std::vector<int> N(1025, 0);
    {
        std::ifstream in("TempFile.dat", std::ios::binary);
        if (!in)
            fail("TempFile.dat: cannot open the file");
        resultPath = trimRight(textField(readLine(in, "TempFile.dat"), 60));
        comment1 = textField(readLine(in, "TempFile.dat"), 60);
        comment2 = textField(readLine(in, "TempFile.dat"), 60);
        V = intField(firstItem(readLine(in, "TempFile.dat")));
        w = realField(firstItem(readLine(in, "TempFile.dat")));
        for (int first = 1; first <= 1024; first += 10) {
            std::string line = readLine(in, "TempFile.dat");
            int count = first + 9 <= 1024 ? 10 : 4;
            for (int f = 0; f < count; ++f) {
                std::string field = line.size() > static_cast<std::size_t>(7 * f) ? line.substr(7 * f, 7) : "";
                N[first + f] = intField(field);
            }
        }
    }
    if (!(w > 0.0f) || V <= 0)
        fail("TempFile.dat: the tube voltage and the keV per channel must be greater than 0");

    // Preparation.
    const float ratio = static_cast<float>(w / 0.5);
    const double startQuotient = static_cast<double>(V) / w;
    const double lowestQuotient = 5.0 / w;
    // Channels beyond the spectrum are never visited; a tiny w makes these
    // quotients larger than any int.
    const int c0 = startQuotient < 1.0e9 ? static_cast<int>(startQuotient) + 3 : 1000000000;
    const int lowest = lowestQuotient < 1.0e9 ? static_cast<int>(lowestQuotient) + 1 : 1000000000;
    if (c0 < lowest)
        fail("TempFile.dat: the tube voltage is too low");
    N[1] = 0;
    for (int i = c0 + 1; i <= 1024; ++i)
        N[i] = 0;
    std::vector<float> S(1025, 0.0f);
    for (int i = 1; i <= 1024; ++i)
        S[i] = static_cast<float>(N[i]);

    std::cout << " \n  ----- Stripping correction -----\n \n      Push Enter key to start\n";
    waitForEnter();

    // Main loop, from the start channel down to 5 keV.
    const double escapeEnergy[4] = {23.108f, 26.166f, 27.378f, 31.103f};
    const int escapeBins[4] = {47, 53, 55, 63};
    std::vector<float> R(302, 0.0f);  // R(0) and R(301) stay 0
    int lastcode = 0;
    for (int J = c0 < 1024 ? c0 : 1024; J >= lowest; --J) {
        std::cout << " Channel No = " << J << '\n';
        if (!(S[J] > 5.0f))
            continue;
        const double product = J * static_cast<double>(w);
        const float E = static_cast<float>(product);
        if (!(E < 1000.0f))
            fail("channel " + std::to_string(J) + " lies beyond every response table");
        const int I = static_cast<int>(E);
        const int code = (product - I >= 0.5) ? 10 * I + 5 : 10 * I;
        if (code != lastcode) {
            lastcode = code;
            loadResponse(code, R);
        }
        const double kq = product / 0.5 + 0.01f;
        const int k = kq < 301 ? static_cast<int>(kq) : 301;
        const float C = S[J];
        const float T = static_cast<float>(static_cast<double>(R[k - 1]) + R[k]);
        if (!(T > 0.0f))
            continue;
        S[J] = static_cast<float>((500000.0 / T) * C);

        int L = J;
        if (E >= 23.108f) {
            for (int line = 0; line < 4; ++line) {
                L = J - static_cast<int>(escapeEnergy[line] / w + 0.5);
                if (L <= 0)
                    break;
                if (k > escapeBins[line])
                    S[L] = static_cast<float>(S[L] - (static_cast<double>(R[k - escapeBins[line]]) * C) / T);
            }
        }
        for (int m = L - 1; m >= 1; --m) {
            const double k2q = (m * static_cast<double>(w)) / 0.5 + 0.01f;
            const int k2 = k2q < 301 ? static_cast<int>(k2q) : 301;
            const double q = static_cast<double>(R[k2]) / T;
            const float P = static_cast<float>(q);
            if (q > 1.0e-5f)
                S[m] = static_cast<float>(S[m] - (static_cast<double>(ratio) * C) * P);
        }
    }

    // Final pass.
    const double zeroQuotient = 10.0 / w;
    const int zeroed = zeroQuotient < 1024 ? static_cast<int>(zeroQuotient) : 1024;
    for (int i = 1; i <= zeroed; ++i)
        S[i] = 0.0f;
    for (int i = 1; i <= 1024; ++i) {
        if (S[i] < 0.0f)
            S[i] = 0.0f;
        if (!(S[i] < 2147483648.0f))
            fail("the corrected count of channel " + std::to_string(i) + " is too large");
        N[i] = static_cast<int>(S[i]);
    }

    // Header lines of the measured file: the first 17 lines of Com.txt.
    std::vector<std::string> header;
    {
        std::ifstream com("Com.txt", std::ios::binary);
        if (!com)
            fail("Com.txt: cannot open the file");
        for (int i = 0; i < 17; ++i)
            header.push_back(textField(readLine(com, "Com.txt"), 60));
    }

    // The result file.
    std::string path = localPath(resultPath);
    std::ofstream out(path, std::ios::binary);
    if (!out)
        fail(path + ": cannot create the result file");
    out << comment1 << "\r\n" << comment2 << "\r\n";
    out << formatI(V, 3) << "\r\n" << formatF(w, 6, 3) << "\r\n";
    for (const std::string& h : header)
        out << h << "\r\n";
    out << "  Ch.   KeV    Counts\r\n";
    for (int i = 1; i <= 1024; ++i) {
        const float energy = static_cast<float>(i * static_cast<double>(w));
        out << formatI(i, 4) << ' ' << formatF(energy, 7, 2) << ' ' << formatI(N[i], 7) << "\r\n";
    }
    out.close();
    if (!out)
        fail(path + ": cannot write the result file");

    std::cout << " \n    ----- Finished -----\n \n  Push Enter key to END\n";
    waitForEnter();
    std::cout << "Stop - Program terminated.\n";
    return 0;
}
