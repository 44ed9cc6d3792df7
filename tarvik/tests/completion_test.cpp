// The bash completion of tarvik (completion/tarvik), run in bash as the
// shell runs it: the words typed so far in COMP_WORDS, the offers read from
// COMPREPLY.  Its commands and options are held to what the program's own
// help lists and what the program accepts.
#include "support.h"

#include <set>
#include <sstream>

namespace {

using namespace clitest;

using Words = std::set<std::string>;

// What the completion offers for the last of `words` (the word being typed),
// run in `dir`.
Words offers(const fs::path& dir, const std::vector<std::string>& words)
{
    std::string array;
    for (const auto& w : words) array += " '" + w + "'";
    const fs::path script = dir / ".complete.sh";
    spit(script, "source '" TARVIK_COMPLETION "'\n"
                 "COMP_WORDS=(" + array + ")\n"
                 "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                 "_tarvik\n"
                 "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    const Result r = runIn(dir, "bash --norc --noprofile .complete.sh");
    fs::remove(script);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    Words out;
    std::stringstream ss(r.out);
    for (std::string l; std::getline(ss, l);)
        if (!l.empty()) out.insert(l);
    return out;
}

// Every --option a help text names ("--" and a lower-case letter, then
// letters and hyphens).
Words optionsIn(const std::string& help)
{
    Words out;
    auto name = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; };
    for (std::size_t i = 0; (i = help.find("--", i)) != std::string::npos;) {
        std::size_t j = i + 2;
        if (j < help.size() && help[j] >= 'a' && help[j] <= 'z') {
            while (j < help.size() && name(help[j])) ++j;
            out.insert(help.substr(i, j - i));
        }
        i = j;
    }
    return out;
}

const Words kCommands = {"init", "strip", "convert", "quality", "export", "plot", "import", "characterize"};

TEST(TarvikCompletion, OffersTheCommandsAndEachCommandsOptions)
{
    const fs::path w = scratch("completion");
    // The commands are those of `tarvik --help`.
    const std::string help = runIn(w, tarvikExe() + " --help").out;
    for (const auto& c : kCommands) EXPECT_NE(help.find("\n  " + c + " "), std::string::npos) << c;
    Words all = kCommands;
    all.insert({"help", "--help"});
    EXPECT_EQ(offers(w, {"tarvik", ""}), all);
    EXPECT_EQ(offers(w, {"tarvik", "qu"}), Words{"quality"});

    for (const auto& c : kCommands) {
        SCOPED_TRACE(c);
        // The options offered are those the command's help names, and the
        // command takes each of them.
        Words offered = offers(w, {"tarvik", c, "--"});
        EXPECT_EQ(offered.erase("--help"), 1u);
        EXPECT_EQ(offered, optionsIn(runIn(w, tarvikExe() + " " + c + " --help").out));
        for (const auto& o : offered) {
            // Nothing is read or written: the files do not exist.
            const std::string err = runTarvikInProcess(w, {"tarvik", c, o, "1", "2", "nothing.csv"}).err;
            EXPECT_EQ(err.find("unknown option"), std::string::npos) << o << ": " << err;
        }
    }
    EXPECT_EQ(offers(w, {"tarvik", "strip", "--k"}), (Words{"--kv", "--kev-per-channel"}));
    fs::remove_all(w);
}

TEST(TarvikCompletion, OffersTheValuesAndTheFilesEachCommandReads)
{
    const fs::path w = scratch("completion_files");
    for (const char* f : {"m.csv", "M2.CSV", "s.mca1", "p.mca2", "notes.txt", "Wood.dat", "-dash.csv", "a.png"})
        spit(w / f, "");
    fs::create_directory(w / "sub");
    fs::create_directory(w / "my data");
    EXPECT_EQ(offers(w, {"tarvik", "strip", ""}), (Words{"m.csv", "M2.CSV", "-dash.csv", "sub", "my data"}));
    EXPECT_EQ(offers(w, {"tarvik", "convert", "--angle", "90", ""}), (Words{"s.mca1", "sub", "my data"}));
    EXPECT_EQ(offers(w, {"tarvik", "quality", "--json", "s"}), (Words{"s.mca1", "sub"}));
    EXPECT_EQ(offers(w, {"tarvik", "export", "s"}), (Words{"s.mca1", "sub"}));
    EXPECT_EQ(offers(w, {"tarvik", "plot", "--log", "p"}), Words{"p.mca2"});
    EXPECT_EQ(offers(w, {"tarvik", "init", ""}), (Words{"sub", "my data"}));
    // After "--" a word starting with "-" is a file.
    EXPECT_EQ(offers(w, {"tarvik", "strip", "--", "-"}), Words{"-dash.csv"});
    // Option values.
    EXPECT_EQ(offers(w, {"tarvik", "quality", "--kv", "80", "--method", ""}), (Words{"standard", "unfold"}));
    EXPECT_EQ(offers(w, {"tarvik", "convert", "--scatterer", ""}), (Words{"Carbon", "PMMA", "Wood.dat", "sub", "my data"}));
    EXPECT_EQ(offers(w, {"tarvik", "strip", "--outdir", "m"}), Words{"my data"});
    EXPECT_EQ(offers(w, {"tarvik", "plot", "--out", ""}), (Words{"a.png", "sub", "my data"}));
    EXPECT_EQ(offers(w, {"tarvik", "strip", "--kv", ""}), Words{});
    EXPECT_EQ(offers(w, {"tarvik", "plot", "--range", "10", ""}), Words{});
    // Analysers' files, and the formats to read them as.
    for (const char* f : {"run.mca", "RUN2.Spe", "b.chn", "c.n42"}) spit(w / f, "");
    EXPECT_EQ(offers(w, {"tarvik", "import", "r"}), Words{"run.mca"});
    EXPECT_EQ(offers(w, {"tarvik", "import", "R"}), Words{"RUN2.Spe"});
    EXPECT_EQ(offers(w, {"tarvik", "strip", "--kv", "80", "b"}), Words{"b.chn"});
    EXPECT_EQ(offers(w, {"tarvik", "quality", "c"}), Words{"c.n42"});
    EXPECT_EQ(offers(w, {"tarvik", "import", "--format", "n"}), Words{"n42"});
    // characterize: a nuclide, then its spectrum; folders for --out and --res.
    EXPECT_EQ(offers(w, {"tarvik", "characterize", "--source", "1"}), (Words{"109Cd", "133Ba", "137Cs", "153Gd", "125I"}));
    EXPECT_EQ(offers(w, {"tarvik", "characterize", "--source", "241Am", "m"}), (Words{"m.csv", "my data"}));
    EXPECT_EQ(offers(w, {"tarvik", "characterize", "--source", "241Am", "r"}), Words{"run.mca"});
    EXPECT_EQ(offers(w, {"tarvik", "characterize", "--out", "s"}), Words{"sub"});
    EXPECT_EQ(offers(w, {"tarvik", "strip", "--res", "s"}), Words{"sub"});
    EXPECT_EQ(offers(w, {"tarvik", "characterize", ""}), Words{});
    fs::remove_all(w);
}

} // namespace
