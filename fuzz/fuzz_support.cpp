#include "fuzz_support.h"

#include <cstdlib>
#include <fstream>
#include <system_error>
#include <unistd.h>

namespace fuzzsupport {

namespace fs = std::filesystem;

std::filesystem::path dataDir() { return fs::path(TARVIK_FUZZ_DATA_DIR); }

namespace {
fs::path* g_scratch = nullptr;

void removeScratch()
{
    if (g_scratch) {
        std::error_code ec;
        fs::remove_all(*g_scratch, ec);
    }
}
} // namespace

const fs::path& scratchDir()
{
    if (!g_scratch) {
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);
        if (ec) base = "/tmp";
        std::string tmpl = (base / "tarvik-fuzz-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        g_scratch = new fs::path(tmpl);
        std::atexit(removeScratch);
    }
    return *g_scratch;
}

fs::path writeInput(std::string_view name, const std::uint8_t* data, std::size_t size)
{
    fs::path file = scratchDir() / fs::path(std::string(name));
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write the input to %s\n", file.c_str());
        std::abort();
    }
    return file;
}

void finding(const std::string& what)
{
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void requireMessage(const std::exception& e)
{
    const char* w = e.what();
    if (w == nullptr || *w == '\0') finding("an input was refused with an empty message");
}

} // namespace fuzzsupport
