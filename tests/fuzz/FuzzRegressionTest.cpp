// Replays every kept fuzz input (fuzz/regressions/<target>/ and fuzz/seeds/<target>/) through
// its target's entry logic, so that an input that once crashed a parser keeps being run under
// the sanitizers of the test build. Each input is a test case of its own: a crash names it.
#include "FuzzTargets.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using FuzzFunction = int (*)(const uint8_t*, size_t);

struct Target {
    const char* name;
    FuzzFunction run;
};

const Target kTargets[] = {
    {"metadata", fuzz::fuzzMetadata},
    {"sitemap", fuzz::fuzzSitemap},
    {"directory", fuzz::fuzzDirectory},
    {"itss", fuzz::fuzzItss},
    {"open", fuzz::fuzzOpen},
    {"calculator", fuzz::fuzzCalculator},
    {"imagestream", fuzz::fuzzImagestream},
    {"lzx", fuzz::fuzzLzx},
    {"imagereader", fuzz::fuzzImagereader},
};

struct Input {
    const Target* target;
    QString path;
};

// Names the input by its file in test output and in CTest's test names.
void PrintTo(const Input& input, std::ostream* os) {
    *os << QFileInfo(input.path).fileName().toStdString();
}

QString inputsRoot() {
    const QByteArray env = qgetenv("LUMENO_FUZZ_INPUTS");
    return env.isEmpty() ? QStringLiteral(LUMENO_FUZZ_INPUTS_DEFAULT) : QString::fromLocal8Bit(env);
}

std::vector<Input> allInputs() {
    std::vector<Input> inputs;
    for (const Target& target : kTargets) {
        for (const char* kind : {"seeds", "regressions"}) {
            const QDir dir(inputsRoot() + "/" + kind + "/" + target.name);
            for (const QString& f : dir.entryList(QDir::Files, QDir::Name)) {
                if (!f.startsWith(u'.') && !f.endsWith(QLatin1String(".md")))
                    inputs.push_back({&target, dir.filePath(f)});
            }
        }
    }
    return inputs;
}

// "sitemap_regressions_crash_0a1b" from ".../regressions/sitemap/crash-0a1b".
std::string caseName(const Input& input) {
    const QString kind = QFileInfo(QFileInfo(input.path).path()).path().section(u'/', -1);
    std::string name = std::string(input.target->name) + "_" + kind.toStdString() + "_" +
                       QFileInfo(input.path).fileName().toStdString();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
}

class KeptInput : public testing::TestWithParam<Input> {
protected:
    void SetUp() override {
        // The itss target answers from a compiled fixture; point it at this build's.
        qputenv("LUMENO_FUZZ_DOCUMENT", fixturePath("names").toLocal8Bit());
    }
};

} // namespace

TEST_P(KeptInput, RunsWithoutFault) {
    const QByteArray bytes = readWholeFile(GetParam().path);
    ASSERT_FALSE(bytes.isNull()) << GetParam().path.toStdString();
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    // A kept lzx input made chmlib fault or misdecode. This build links the system's chmlib,
    // uninstrumented: it is run on the input only once the checks refuse every object whose
    // matches copy from outside the decoded data.
    if (std::string(GetParam().target->name) == "lzx") {
        ASSERT_FALSE(fuzz::lzxChecksAcceptOutsideMatch(data, static_cast<size_t>(bytes.size())))
            << "the checks let chmlib decode an object whose matches reach outside its data";
    }
    // An invariant broken or a sanitizer finding aborts the process, which fails the case.
    EXPECT_EQ(GetParam().target->run(data, static_cast<size_t>(bytes.size())), 0);
}

INSTANTIATE_TEST_SUITE_P(Replay, KeptInput, testing::ValuesIn(allInputs()),
                         [](const testing::TestParamInfo<Input>& info) {
                             return caseName(info.param);
                         });

TEST(FuzzInputs, EveryTargetHasInputsToReplay) {
    const std::vector<Input> inputs = allInputs();
    for (const Target& target : kTargets) {
        const bool found = std::any_of(inputs.begin(), inputs.end(),
                                       [&](const Input& i) { return i.target == &target; });
        EXPECT_TRUE(found) << "no kept input for " << target.name << " under "
                           << inputsRoot().toStdString();
    }
}

TEST(FuzzInputs, EmptyInputIsHarmlessForEveryTarget) {
    qputenv("LUMENO_FUZZ_DOCUMENT", fixturePath("names").toLocal8Bit());
    const uint8_t none = 0;
    for (const Target& target : kTargets) {
        EXPECT_EQ(target.run(&none, 0), 0) << target.name;
        EXPECT_EQ(target.run(&none, 1), 0) << target.name;
    }
}

TEST(FuzzInputs, RealBooksPassTheContainerOraclesWhole) {
    // The directory target's oracle compares the checks with chmlib's own lookup; every real
    // book and every fixture must agree with it, and open completely.
    QStringList files = corpusFiles();
    if (files.isEmpty() && qgetenv("CI") == "true")
        ADD_FAILURE() << "the corpus is missing under CI";
    for (const char* fixture : {"sample", "chunks", "nested", "names", "gbk", "bare"})
        files << fixturePath(QString::fromLatin1(fixture));
    for (const QString& file : files) {
        const QByteArray bytes = readWholeFile(file);
        ASSERT_FALSE(bytes.isEmpty()) << file.toStdString();
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
        EXPECT_EQ(fuzz::fuzzDirectory(data, static_cast<size_t>(bytes.size())), 0);
        EXPECT_EQ(fuzz::fuzzOpen(data, static_cast<size_t>(bytes.size())), 0);
        EXPECT_EQ(fuzz::fuzzLzx(data, static_cast<size_t>(bytes.size())), 0);
    }
}
