// What every fuzz target shares: a private temporary folder for readers that
// take a path, the files of the shipped data, a surface that draws nothing,
// and the rule that a refused input ends in one of the readers' own errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace fuzzsupport {

// The folder with the shipped data (RES, Carbon.dat, PMMA.dat), fixed when
// the build is configured.
std::filesystem::path dataDir();

// A folder of this process, created on first use and removed at exit.
const std::filesystem::path& scratchDir();

// Writes the input bytes to `name` in the scratch folder and returns its path.
std::filesystem::path writeInput(std::string_view name, const std::uint8_t* data, std::size_t size);

// Stops the run as a finding: the message goes to stderr, then abort() so
// that libFuzzer keeps the input.
[[noreturn]] void finding(const std::string& what);

// A refusal must say what is wrong: an error with an empty message is a
// finding as well.
void requireMessage(const std::exception& e);

} // namespace fuzzsupport

// Runs `body`; exceptions of the listed kinds are the readers' refusals and
// end the input quietly, anything else that escapes is a finding.
#define FUZZ_REFUSALS_BEGIN try {
#define FUZZ_REFUSAL(Type)                          \
    }                                               \
    catch (const Type& e) {                         \
        fuzzsupport::requireMessage(e);
#define FUZZ_REFUSALS_END                                                              \
    }                                                                                  \
    catch (const std::exception& e) {                                                  \
        fuzzsupport::finding(std::string("unexpected exception: ") + e.what());        \
    }                                                                                  \
    catch (...) {                                                                      \
        fuzzsupport::finding("unexpected exception of unknown type");                  \
    }
