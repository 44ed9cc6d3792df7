#include "textfile.h"

#include "sjis/sjis.h"
#include "values.h"

#include "fixedio/files.h"

#include <utility>

namespace tarvik {

TextFileReader::TextFileReader(const std::filesystem::path& path) : path_(path) {
    // Never waits on a named pipe and never reads more than any spectrum or
    // settings file can hold; a read past what was read fails like the end.
    bool complete = false;
    if (fixedio::readFileHead(path, fixedio::kMaxInputBytes, content_, complete) != fixedio::ReadStatus::Ok)
        throw FileReadError(path.string() + ": cannot open the file");
}

TextFileReader::TextFileReader(const std::filesystem::path& path, std::string content)
    : content_(std::move(content)), path_(path) {}

bool TextFileReader::atEnd() const { return pos_ >= content_.size(); }

std::string TextFileReader::readRawLine() {
    if (atEnd()) throw FileReadError(path_.string() + ": the file ends early");
    std::size_t end = content_.find_first_of("\r\n", pos_);
    std::string line;
    if (end == std::string::npos) {
        line = content_.substr(pos_);
        pos_ = content_.size();
        return line;
    }
    line = content_.substr(pos_, end - pos_);
    pos_ = end + 1;
    // CR LF is one line end; a lone CR or LF ends the line too.
    if (content_[end] == '\r' && pos_ < content_.size() && content_[pos_] == '\n') ++pos_;
    return line;
}

std::string TextFileReader::readLine() { return sjis::toUtf8ForDisplay(readRawLine()); }

std::string TextFileReader::readField() {
    auto at = [&](std::size_t i) { return i < content_.size() ? content_[i] : '\0'; };
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    auto isLineEnd = [](char c) { return c == '\r' || c == '\n'; };
    // Consumes the comma or the line end that closes a field (after any blanks).
    auto consumeDelimiter = [&]() {
        while (pos_ < content_.size() && isBlank(content_[pos_])) ++pos_;
        char c = at(pos_);
        if (c == ',') {
            ++pos_;
        } else if (c == '\r') {
            ++pos_;
            if (at(pos_) == '\n') ++pos_;
        } else if (c == '\n') {
            ++pos_;
        }
    };

    if (atEnd()) throw FileReadError(path_.string() + ": the file ends early");
    while (pos_ < content_.size() && isBlank(content_[pos_])) ++pos_;
    if (atEnd()) throw FileReadError(path_.string() + ": the file ends early");

    char c = content_[pos_];
    std::string field;
    if (c == '"') {
        std::size_t close = content_.find('"', pos_ + 1);
        std::size_t stop = close == std::string::npos ? content_.size() : close;
        field = content_.substr(pos_ + 1, stop - pos_ - 1);
        pos_ = close == std::string::npos ? content_.size() : close + 1;
        // anything between the closing quote and the delimiter is dropped
        while (pos_ < content_.size() && content_[pos_] != ',' && !isLineEnd(content_[pos_])) ++pos_;
        consumeDelimiter();
        return sjis::toUtf8ForDisplay(field);
    }
    bool numeric = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    std::size_t start = pos_;
    while (pos_ < content_.size()) {
        char d = content_[pos_];
        if (d == ',' || isLineEnd(d)) break;
        if (numeric && isBlank(d)) break;
        ++pos_;
    }
    field = content_.substr(start, pos_ - start);
    if (!numeric) {
        while (!field.empty() && isBlank(field.back())) field.pop_back();
    }
    consumeDelimiter();
    return sjis::toUtf8ForDisplay(field);
}

double TextFileReader::readNumberField() { return leadingNumber(readField()); }

} // namespace tarvik
