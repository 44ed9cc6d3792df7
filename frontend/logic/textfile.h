// Reading the text files of the front end (measured and result spectra, the
// settings file) by its rules: whole lines up to the CR, fields that end at
// a comma or the line end, records not bound to lines.  Files are Shift_JIS;
// texts come back in UTF-8.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tarvik {

// The file cannot be opened, or a read ran past its end.
class FileReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TextFileReader {
public:
    // Throws FileReadError when the file cannot be opened or is not a
    // regular file.
    explicit TextFileReader(const std::filesystem::path& path);
    // Over bytes already read from `path`.
    TextFileReader(const std::filesystem::path& path, std::string content);

    bool atEnd() const;
    // A whole line (without its CR LF), converted to UTF-8.
    std::string readLine();
    // The raw bytes of a whole line (for copying header lines unchanged).
    std::string readRawLine();
    // The next field (rules of the front end's field read), in UTF-8.
    std::string readField();
    // The leading-number value of the next field.
    double readNumberField();

private:
    std::string content_;
    std::size_t pos_ = 0;
    std::filesystem::path path_;
};

} // namespace tarvik
