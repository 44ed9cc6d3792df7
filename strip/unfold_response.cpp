#include "strip/unfold_response.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>

#include "fixedio/files.h"

namespace tvstrip {

namespace {

constexpr std::string_view kMagic = "Tarvik unfold response 1";

std::uint64_t fnv1a(std::string_view bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string hex16(std::uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

void putVarint(std::string& out, std::uint32_t v)
{
    while (v >= 0x80) {
        out += static_cast<char>((v & 0x7f) | 0x80);
        v >>= 7;
    }
    out += static_cast<char>(v);
}

class Reader {
public:
    Reader(std::string_view bytes, const std::string& name) : rest_(bytes), name_(name) {}

    [[noreturn]] void fail(const std::string& what) const
    {
        throw ResponseDataError(name_ + (line_ > 0 ? ", line " + std::to_string(line_) : std::string()) + ": " +
                                what);
    }

    std::string_view line()
    {
        const auto nl = rest_.find('\n');
        if (nl == std::string_view::npos)
            fail("the file ends early (damaged or cut short)");
        ++line_;
        std::string_view l = rest_.substr(0, nl);
        rest_.remove_prefix(nl + 1);
        return l;
    }

    // "key v1 v2 ...": the values after the expected key.
    std::vector<std::string_view> keyed(std::string_view key, std::size_t count)
    {
        std::string_view l = line();
        std::vector<std::string_view> words;
        while (!l.empty()) {
            const auto sp = l.find(' ');
            if (sp != 0)
                words.push_back(l.substr(0, sp));
            if (sp == std::string_view::npos)
                break;
            l.remove_prefix(sp + 1);
        }
        if (words.size() != count + 1 || words[0] != key)
            fail("expected \"" + std::string(key) + "\" with " + std::to_string(count) + " value(s)");
        words.erase(words.begin());
        return words;
    }

    template <class T>
    T number(std::string_view s, const char* what, int base = 10)
    {
        T v{};
        std::from_chars_result r;
        if constexpr (std::is_floating_point_v<T>)
            r = std::from_chars(s.data(), s.data() + s.size(), v);
        else
            r = std::from_chars(s.data(), s.data() + s.size(), v, base);
        if (s.empty() || r.ec != std::errc{} || r.ptr != s.data() + s.size())
            fail(std::string("expected ") + what + ", found \"" + std::string(s) + "\"");
        if constexpr (std::is_floating_point_v<T>)
            if (!std::isfinite(v))
                fail(std::string(what) + " is not finite");
        return v;
    }

    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
    const std::string& name_;
    int line_ = 0;
};

} // namespace

std::string formatUnfoldResponse(const UnfoldResponse& r)
{
    std::string payload;
    std::vector<std::size_t> sizes;
    for (const auto& n : r.nodes) {
        const std::size_t before = payload.size();
        for (std::uint32_t c : n.counts)
            putVarint(payload, c);
        sizes.push_back(payload.size() - before);
    }
    std::string out(kMagic);
    out += "\nprofile " + hex16(r.profileFingerprint) + "\n";
    char buf[128];
    std::snprintf(buf, sizeof buf, "loss-bin-keV %.17g\nphotons-per-node %llu\nnodes %zu\n", r.lossBinKeV,
                  static_cast<unsigned long long>(r.photonsPerNode), r.nodes.size());
    out += buf;
    for (std::size_t i = 0; i < r.nodes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "node %.17g %zu %zu\n", r.nodes[i].energyKeV, r.nodes[i].counts.size(),
                      sizes[i]);
        out += buf;
    }
    out += "checksum " + hex16(fnv1a(payload)) + "\ndata\n";
    out += payload;
    return out;
}

UnfoldResponse parseUnfoldResponse(std::string_view bytes, const std::string& fileName, double neededKeV)
{
    Reader in(bytes, fileName);
    if (in.line() != kMagic)
        in.fail("not response data of the unfolding method (the first line is not \"" + std::string(kMagic) + "\")");
    UnfoldResponse r;
    r.profileFingerprint = in.number<std::uint64_t>(in.keyed("profile", 1)[0], "a fingerprint", 16);
    r.lossBinKeV = in.number<double>(in.keyed("loss-bin-keV", 1)[0], "the loss bin width");
    if (!(r.lossBinKeV >= 0.001 && r.lossBinKeV <= 1.0))
        in.fail("a loss bin width from 0.001 to 1 keV is expected");
    r.photonsPerNode = in.number<std::uint64_t>(in.keyed("photons-per-node", 1)[0], "a photon number");
    if (r.photonsPerNode == 0 || r.photonsPerNode > (1ULL << 40))
        in.fail("the photons per node must lie from 1 to 2^40");
    const auto count = in.number<std::size_t>(in.keyed("nodes", 1)[0], "a node count");
    if (count < 2 || count > 10000)
        in.fail("2 to 10000 nodes are expected");
    std::vector<std::size_t> sizes(count), binsOf(count);
    r.nodes.resize(count);
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto w = in.keyed("node", 3);
        auto& n = r.nodes[i];
        n.energyKeV = in.number<double>(w[0], "a node energy in keV");
        const auto bins = in.number<std::size_t>(w[1], "a bin count");
        sizes[i] = in.number<std::size_t>(w[2], "a byte count");
        if (!(n.energyKeV > 0 && n.energyKeV <= 1000))
            in.fail("node energies lie above 0 and up to 1000 keV");
        if (i > 0 && !(n.energyKeV > r.nodes[i - 1].energyKeV))
            in.fail("the node energies must ascend");
        // A loss never exceeds the photon energy: one bin beyond it at most.
        if (bins < 1 || static_cast<double>(bins - 1) * r.lossBinKeV > n.energyKeV + r.lossBinKeV)
            in.fail("the node at " + std::string(w[0]) + " keV holds losses beyond its energy");
        if (sizes[i] < bins || sizes[i] > 5 * bins)
            in.fail("the byte count does not fit the bin count");
        binsOf[i] = bins;
        total += sizes[i];
    }
    const auto checksum = in.number<std::uint64_t>(in.keyed("checksum", 1)[0], "a checksum", 16);
    if (in.line() != "data")
        in.fail("expected \"data\"");
    const std::string_view payload = in.rest();
    if (payload.size() != total)
        in.fail("the data hold " + std::to_string(payload.size()) + " bytes instead of " + std::to_string(total) +
                " (damaged or cut short)");
    if (fnv1a(payload) != checksum)
        in.fail("the checksum does not match: the data are damaged");
    std::size_t pos = 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto& n = r.nodes[i];
        const std::size_t end = pos + sizes[i];
        if (i > 0 && r.nodes[i - 1].energyKeV >= neededKeV) {
            // Not needed: the node below already lies at or above the
            // highest energy asked for.
            r.decodedUpToKeV = r.nodes[i - 1].energyKeV;
            break;
        }
        std::uint64_t sum = 0;
        // Filled as decoded: no pass to zero the memory first.
        n.counts.reserve(binsOf[i]);
        for (std::size_t bin = 0; bin < binsOf[i]; ++bin) {
            std::uint64_t v = 0;
            int shift = 0;
            for (;;) {
                if (pos >= end || shift > 28)
                    in.fail("the counts of the node at " + std::to_string(n.energyKeV) + " keV are damaged");
                const auto b = static_cast<unsigned char>(payload[pos++]);
                v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
                shift += 7;
                if (!(b & 0x80))
                    break;
            }
            if (v > 0xffffffffULL)
                in.fail("a count of the node at " + std::to_string(n.energyKeV) + " keV is too large");
            n.counts.push_back(static_cast<std::uint32_t>(v));
            sum += v;
        }
        if (pos != end)
            in.fail("the counts of the node at " + std::to_string(n.energyKeV) + " keV do not fill their bytes");
        if (sum > r.photonsPerNode)
            in.fail("the node at " + std::to_string(n.energyKeV) + " keV records more photons than were simulated");
    }
    return r;
}

UnfoldResponse loadUnfoldResponse(const std::filesystem::path& resFolder, double neededKeV)
{
    namespace fs = std::filesystem;
    const std::string profileFile = (resFolder / kDetectorProfileName).generic_string();
    const std::string dataFile = (resFolder / kUnfoldResponseName).generic_string();
    std::error_code ec;
    if (!std::filesystem::exists(resFolder / kDetectorProfileName, ec))
        throw ProfileError("the detector profile " + profileFile +
                           " of the unfolding method is missing; generate it with tvgen --unfold-data");
    const DetectorProfile profile = loadDetectorProfile(profileFile);
    if (!std::filesystem::exists(resFolder / kUnfoldResponseName, ec))
        throw ResponseDataError("the response data " + dataFile +
                                " of the unfolding method are missing; generate them with tvgen --unfold-data");
    // The file is mapped rather than read: a run decodes only part of it,
    // and reading would clear and copy all of its 1.25 MB first.
    const fs::path path = resFolder / kUnfoldResponseName;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        throw ResponseDataError(dataFile + ": cannot read the response data");
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size > fixedio::kMaxInputBytes) {
        ::close(fd);
        throw ResponseDataError(dataFile + ": larger than any response data (more than 16 MB)");
    }
    void* map = size > 0 ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
    ::close(fd);
    std::string copy;
    std::string_view bytes;
    if (map == MAP_FAILED || map == nullptr) {
        map = nullptr;
        bool complete = false;
        if (size > 0 && (fixedio::readFileHead(path, fixedio::kMaxInputBytes, copy, complete) != fixedio::ReadStatus::Ok ||
                         !complete))
            throw ResponseDataError(dataFile + ": cannot read the response data");
        bytes = copy;
    } else {
        bytes = std::string_view(static_cast<const char*>(map), size);
    }
    struct Unmap {
        void* p;
        std::size_t n;
        ~Unmap()
        {
            if (p)
                ::munmap(p, n);
        }
    } unmap{map, size};
    UnfoldResponse r = parseUnfoldResponse(bytes, dataFile, neededKeV);
    if (r.profileFingerprint != profile.transportFingerprint())
        throw ResponseDataError(dataFile + ": made for another detector than " + profileFile +
                                " describes; regenerate with tvgen --detector " + profileFile + " --unfold-data");
    r.profile = profile;
    return r;
}

} // namespace tvstrip
