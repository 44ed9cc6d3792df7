// tvconv_plain: a plain, first-version scatter-to-primary conversion
// program, kept only as a baseline for timing whole tvconv runs.  It reads
// the same exchange files, prints the same console text and writes the same
// result file as tvconv's standard method, written the way one would write
// it first: iostreams, std::string, every table lookup taking its
// logarithms when it is made, the angle sum evaluated term by term.
//
// Error handling is minimal: inputs the conversion cannot handle are
// refused before the start prompt with a message on stderr and exit status
// 1; nothing is written then.  Result paths holding Shift_JIS text are
// converted to UTF-8 with iconv like tvconv does.
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
    std::cerr << "tvconv_plain: " << what << '\n';
    std::exit(1);
}

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

// A path as the front end writes it ("Tarvik_data\name.mca2"): backslashes
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

// A real field with `decimals` implied decimal places when it holds no
// decimal point; blanks ignored, all blank is 0.
float realField(const std::string& field, int decimals)
{
    std::string s = withoutBlanks(field);
    if (s.empty())
        return 0.0f;
    if (s.find('.') == std::string::npos && decimals > 0) {
        std::size_t e = s.find_first_of("eE");
        std::string exponent = e == std::string::npos ? "" : s.substr(e + 1);
        s = s.substr(0, e) + "e" + std::to_string((exponent.empty() ? 0 : std::atoi(exponent.c_str())) - decimals);
    }
    char* end = nullptr;
    float v = std::strtof(s.c_str(), &end);
    if (*end != '\0')
        fail("not a number: \"" + field + "\"");
    return v;
}

std::string column(const std::string& line, std::size_t start, std::size_t width)
{
    return line.size() > start ? line.substr(start, width) : std::string();
}

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

const double kPi = 3.14159f;
const double kLambda = 12.4f;  // keV Å, as a single-precision constant

// Log-log interpolation in a table u(1..n), v(1..n) (0-based here).  In the
// coefficient lookups ln t and F are rounded to single precision and the
// ln u(J-1) of the numerator enters unrounded; in the scattering-function
// lookups they stay unrounded.
float interpolateLogLog(const std::vector<float>& u, const std::vector<double>& v, float t, bool coefficientTable)
{
    std::size_t J = 1;
    while (u[J] <= t)
        ++J;
    const float lu2 = static_cast<float>(std::log(static_cast<double>(u[J])));
    const float lu1 = static_cast<float>(std::log(static_cast<double>(u[J - 1])));
    const float lv2 = static_cast<float>(std::log(v[J]));
    const float lv1 = static_cast<float>(std::log(v[J - 1]));
    if (!coefficientTable) {
        const double F = (std::log(static_cast<double>(t)) - lu1) / (static_cast<double>(lu2) - lu1);
        return static_cast<float>(std::exp((static_cast<double>(lv2) - lv1) * F + lv1));
    }
    const float lt = static_cast<float>(std::log(static_cast<double>(t)));
    const float F = static_cast<float>((lt - std::log(static_cast<double>(u[J - 1]))) / (static_cast<double>(lu2) - lu1));
    return static_cast<float>(std::exp((static_cast<double>(lv2) - lv1) * F + lv1));
}

float primaryEnergy(float e, float theta)
{
    return static_cast<float>((511.0 * e) / (511.0 - (1.0 - std::cos(static_cast<double>(theta))) * e));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--help") {
        std::cout << "Usage: tvconv_plain\nA plain scatter-to-primary conversion for timing comparisons;\n"
                     "run it where tvconv runs (TempFile2.dat, Com.dat, the scatterer file).\n";
        return 0;
    }

    // TempFile2.dat.
    std::string resultPath, scattererName;
    int A = 0;
    float L = 0.0f, W = 0.0f;
    std::vector<int> N(1025, 0);
    {
        const std::string file = "TempFile2.dat";
        std::ifstream in(file, std::ios::binary);
        if (!in)
            fail(file + ": cannot open the file");
        resultPath = trimRight(textField(readLine(in, file), 60));
        A = intField(firstItem(readLine(in, file)));
        L = realField(firstItem(readLine(in, file)), 0);
        scattererName = trimRight(textField(readLine(in, file), 60));
        readLine(in, file);  // the tube voltage, not used
        W = realField(firstItem(readLine(in, file)), 0);
        for (int first = 1; first <= 1024; first += 10) {
            std::string line = readLine(in, file);
            int count = first + 9 <= 1024 ? 10 : 4;
            for (int f = 0; f < count; ++f)
                N[first + f] = intField(column(line, 7 * f, 7));
        }
    }

    // The scatterer data file: coefficient rows, then 45 scattering-function rows.
    std::vector<float> energy, mu, x, S;
    std::vector<double> scatterCoeff;
    {
        const std::string file = localPath(scattererName);
        std::ifstream in(file, std::ios::binary);
        if (!in)
            fail(file + ": cannot open the file");
        int n = intField(column(readLine(in, file), 0, 3));
        if (n < 2 || n > 38)
            fail(file + ": the coefficient table must have 2 to 38 rows");
        float rho = realField(column(readLine(in, file), 0, 9), 6);
        for (int k = 0; k < n; ++k) {
            std::string line = readLine(in, file);
            float e = realField(column(line, 0, 9), 3);
            float c1 = realField(column(line, 9, 9), 2);
            float c2 = realField(column(line, 18, 9), 2);
            float c3 = realField(column(line, 27, 9), 2);
            energy.push_back(static_cast<float>(e * 1000.0));
            scatterCoeff.push_back(static_cast<double>(c1) + c2);
            mu.push_back(static_cast<float>((static_cast<double>(c1) + c2 + c3) * rho));
        }
        for (int k = 0; k < 45; ++k) {
            std::string line = readLine(in, file);
            x.push_back(realField(column(line, 0, 10), 3));
            S.push_back(realField(column(line, 22, 12), 5));
        }
    }
    std::vector<double> Sd(S.begin(), S.end());
    std::vector<double> mud(mu.begin(), mu.end());

    // Refuse what the conversion cannot compute.
    const float theta = static_cast<float>((A / 180.0) * kPi);
    int K = 1024;
    for (int i = 300; i <= 1024; ++i) {
        if (N[i] == 0) {
            K = i;
            break;
        }
    }
    {
        if (!(W > 0.0f) || A == 0 || !(std::sin(theta / 2.0) > 0.0))
            fail("TempFile2.dat: the channel width and the angle must be positive");
        bool any = false;
        for (int i = 21; i <= K; ++i)
            any = any || N[i] > 0;
        if (!any)
            fail("TempFile2.dat: channels 21 to " + std::to_string(K) + " hold no counts");
        for (int i = 21; i <= K; ++i) {
            const float e0 = static_cast<float>(i * static_cast<double>(W) - W * 0.5);
            const float elo = static_cast<float>(e0 - W * 0.5);
            const float ehi = static_cast<float>(W * 0.5 + e0);
            for (float e : {elo, e0, ehi})
                if (!(511.0 - (1.0 - std::cos(static_cast<double>(theta))) * e > 0.0))
                    fail("channel " + std::to_string(i) + " cannot come from Compton scattering at this angle");
            const float e1 = primaryEnergy(e0, theta);
            const float xMax = static_cast<float>(std::sin(static_cast<float>(kPi) / 2.0) / (kLambda / e1));
            const float xTheta = static_cast<float>(std::sin(theta / 2.0) / (kLambda / e1));
            if (!(e1 < energy.back()) || !(xMax < x.back()) || !(xTheta < x.back()))
                fail("channel " + std::to_string(i) + " lies beyond the tables of the scatterer file");
        }
        if (!(static_cast<float>(1024 * static_cast<double>(W)) < energy.back()))
            fail("the attenuation correction needs the coefficient table up to channel 1024");
    }

    std::cout << "\n ----- 散乱線 → 一次線スペクトル変換 -----\n\n        Push Enter key to start\n";
    waitForEnter();
    std::cout << "\n";

    // Measured total without channel 1.
    float Tm = 0.0f;
    for (int i = 2; i <= 1024; ++i)
        Tm = static_cast<float>(static_cast<double>(Tm) + N[i]);

    std::vector<float> P(1025, 0.0f);
    const double w = W;
    for (int i = 21; i <= K; ++i) {
        std::cout << " Channel No = " << i << '\n';
        const float E0 = static_cast<float>(i * w - w * 0.5);
        const float Elo = static_cast<float>(E0 - w * 0.5);
        const float Ehi = static_cast<float>(w * 0.5 + E0);
        const float E1 = primaryEnergy(E0, theta);
        const float E1lo = primaryEnergy(Elo, theta);
        const float E1hi = primaryEnergy(Ehi, theta);

        // Differential cross-section at the scattering angle.
        const float xt = static_cast<float>(std::sin(theta / 2.0) / (kLambda / E1));
        const float St = interpolateLogLog(x, Sd, xt, false);
        const float D = static_cast<float>((static_cast<double>(E1) / E0 + static_cast<double>(E0) / E1 -
                                            std::pow(std::sin(static_cast<double>(theta)), 2.0)) *
                                           std::pow(static_cast<double>(E0) / E1, 2.0) * St);

        // Total cross-section: the sum over whole degrees.
        float sigma = 0.0f;
        for (int j = 1; j <= 180; ++j) {
            const double phiExact = (j / 180.0) * kPi;
            const float phi = static_cast<float>(phiExact);
            const float Ep = static_cast<float>(E1 / ((1.0 - std::cos(phiExact)) * (E1 / 511.0) + 1.0));
            const float xp = static_cast<float>(std::sin(phi / 2.0) / (kLambda / E1));
            const float Sp = interpolateLogLog(x, Sd, xp, false);
            const double term = (static_cast<double>(E1) / Ep + static_cast<double>(Ep) / E1 -
                                 std::pow(std::sin(static_cast<double>(phi)), 2.0)) *
                                std::sin(static_cast<double>(phi)) * std::pow(static_cast<double>(Ep) / E1, 2.0) *
                                Sp * kPi * 2.0;
            sigma = static_cast<float>(term + sigma);
        }

        const float G = static_cast<float>(static_cast<double>(D) / sigma);
        const float C = interpolateLogLog(energy, scatterCoeff, E1, true);

        // Spreading onto the primary grid.
        const double qlo = std::trunc(E1lo / w);
        if (!(qlo < 1024))
            continue;
        const double qhi = std::trunc(E1hi / w);
        const int lo = static_cast<int>(qlo) + 1;
        const int hi = qhi < 1024 ? static_cast<int>(qhi) + 1 : 1025;
        const double delta = static_cast<double>(E1hi) - E1lo;
        for (int m = lo; m <= hi && m <= 1024; ++m) {
            float f;
            if (m == lo && m == hi)
                f = 1.0f;
            else if (m == lo)
                f = static_cast<float>((m * w - E1lo) / delta);
            else if (m == hi)
                f = static_cast<float>((E1hi - (m - 1) * w) / delta);
            else
                f = static_cast<float>(w / delta);
            P[m] = static_cast<float>(static_cast<double>(N[i]) / G / C * f + P[m]);
            if (!std::isfinite(P[m]))
                fail("the primary count of channel " + std::to_string(m) + " overflows");
        }
    }

    // Primary total without channel 1, normalisation, attenuation.
    float Tp = 0.0f;
    for (int m = 2; m <= 1024; ++m)
        Tp = static_cast<float>(static_cast<double>(Tp) + P[m]);
    if (!(Tp > 0.0f))
        fail("the primary total is 0");
    std::vector<int> Q(1025, 0);
    for (int m = 1; m <= 1024; ++m) {
        const double v = static_cast<double>(P[m]) * Tm / Tp;
        if (!(v < 2147483648.0))
            fail("the count of channel " + std::to_string(m) + " does not fit a whole number");
        Q[m] = static_cast<int>(v);
    }
    for (int m = 117; m <= 1024; ++m) {
        const float Em = static_cast<float>(m * w);
        const float mum = interpolateLogLog(energy, mud, Em, true);
        const double a = std::exp(-static_cast<double>(mum) * L);
        if (a > 0.0) {
            const double v = Q[m] / a;
            if (!(v < 2147483648.0))
                fail("the count of channel " + std::to_string(m) + " does not fit a whole number");
            Q[m] = static_cast<int>(v);
        }
    }

    // The result file: the 22 lines of Com.dat, then the channel records.
    const std::string path = localPath(resultPath);
    std::ofstream out(path, std::ios::binary);
    if (!out)
        fail(path + ": cannot create the result file");
    {
        std::ifstream com("Com.dat", std::ios::binary);
        if (!com)
            fail("Com.dat: cannot open the file");
        for (int k = 0; k < 22; ++k)
            out << textField(readLine(com, "Com.dat"), 60) << "\r\n";
    }
    for (int i = 1; i <= 1024; ++i) {
        const float energyI = static_cast<float>(i * w);
        out << formatI(i, 4) << ' ' << formatF(energyI, 7, 2) << ' ' << formatI(Q[i], 7) << "\r\n";
    }
    out.close();
    if (!out)
        fail(path + ": cannot write the result file");

    std::cout << "\n          ----- Finished -----\n\n          Push Enter key to END\n";
    waitForEnter();
    std::cout << "Stop - Program terminated.\n";
    return 0;
}
