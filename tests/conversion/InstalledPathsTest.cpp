// Where the library finds its resources and helper programs: the variable when set, else beside
// the running program, as the build tree is laid out for convtool. No build path is compiled in.
#include "DocumentLayout.h"
#include "ImageFormats.h"
#include "TestFiles.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace testfiles;

namespace {

// Sets (or with nullopt, removes) one variable for a scope, then puts the former value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(InstalledPaths, AVariableNamesTheFolderAndAWrongOneIsNotQuietlyReplaced) {
    const char* builtHelpers = std::getenv("LUMENO_LIBEXEC");
    ASSERT_NE(builtHelpers, nullptr);
    const fs::path empty = freshDir("installed-paths-empty");
    const fs::path missing = empty / "missing";
    struct Case {
        const char* name;
        const char* variable;
        std::string value;
        fs::path expected;
    };
    const Case cases[] = {
        {"helpers in the named folder", "LUMENO_LIBEXEC", builtHelpers,
         fs::path(builtHelpers) / "lumeno-text-layout"},
        {"helpers: a folder without them", "LUMENO_LIBEXEC", empty.string(), {}},
        {"helpers: a folder that is not there", "LUMENO_LIBEXEC", missing.string(), {}},
        {"resources in the named folder", "LUMENO_RESOURCES", empty.string(), empty},
        {"resources: a folder that is not there", "LUMENO_RESOURCES", missing.string(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedVariable chosen(c.variable, c.value);
        const fs::path found = std::string(c.variable) == "LUMENO_LIBEXEC"
                                   ? conversion::findLayoutHelper()
                                   : conversion::conversionResourcesDir();
        EXPECT_EQ(found, c.expected);
    }
}

TEST(InstalledPaths, ConvtoolInTheBuildTreeFindsItsHelperAndResourcesBesideItself) {
    const fs::path dir = freshDir("installed-paths-convtool");
    const fs::path text = dir / "note.txt";
    writeBytes(text, Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    const fs::path pdf = dir / "note.pdf";
    ScopedVariable noHelpers("LUMENO_LIBEXEC", std::nullopt);
    ScopedVariable noResources("LUMENO_RESOURCES", std::nullopt);
    EXPECT_EQ(run(shellQuote(LUMENO_CONVTOOL) + " documents-to-pdf " + shellQuote(pdf) + " " +
                  shellQuote(text)),
              0);
    EXPECT_TRUE(fs::is_regular_file(pdf));
    // pdf-images knows "png" only from the format table, a resource.
    const fs::path pictures = freshDir("installed-paths-pictures");
    const std::string images = shellQuote(LUMENO_CONVTOOL) + " pdf-images -format png " +
                               shellQuote(pdf) + " " + shellQuote(pictures) + " 2>&1";
    int status = -1;
    capture(images, &status);
    EXPECT_EQ(status, 0);
    ScopedVariable wrongResources("LUMENO_RESOURCES", (dir / "missing").string());
    const std::string said = capture(images, &status);
    EXPECT_EQ(status, 2) << said;
}

} // namespace
