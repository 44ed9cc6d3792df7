#include "settings.h"

#include "exchange.h"
#include "textfile.h"

namespace tarvik {

std::optional<Settings> readSettings(const std::filesystem::path& file) {
    try {
        TextFileReader r(file);
        Settings s;
        s.facilityName = r.readLine();
        s.analyserName = r.readLine();
        s.detectorName = r.readLine();
        s.kevPerChannel = r.readNumberField();
        return s;
    } catch (const FileReadError&) {
        return std::nullopt;
    }
}

void writeSettings(const std::filesystem::path& file, std::string_view facility,
                   std::string_view analyser, std::string_view detector, std::string_view kevText) {
    std::string out;
    for (auto [text, what] : {std::pair{facility, "施設名"}, std::pair{analyser, "測定器名"},
                              std::pair{detector, "検出器名"}, std::pair{kevText, "エネルギー幅"}}) {
        out += sjisOrThrow(text, what);
        out += "\r\n";
    }
    writeFileBytes(file, out);
}

} // namespace tarvik
