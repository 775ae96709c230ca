// The container mutator must make the files that byte flips never made: from a compiled book,
// within a few thousand mutations, it reaches each class of crafted file that the checks refuse
// (names chmlib confuses, a NUL in a name, a block longer than chmlib's buffer, LZXC values
// chmlib divides by), and files the checks accept, so that chmlib itself gets exercised.
#include "ContainerMutator.h"
#include "CHMContainerLayout.h"
#include "TestSupport.h"

#include <QSet>
#include <gtest/gtest.h>
#include <vector>

using namespace testsupport;

TEST(ContainerMutator, ReachesEveryHoleClassAndAcceptedFilesFromACompiledBook) {
    const QByteArray book = readWholeFile(fixturePath("sample"));
    ASSERT_FALSE(book.isEmpty());
    const size_t maxSize = 1 << 16;
    const QStringList wanted = {"differ only in case", "NUL byte",    "longer than a block can be",
                                "reset interval",      "window size", "reset table"};
    QSet<QString> reached;
    int accepted = 0;
    const fuzz::ByteMutator flipOne = [](uint8_t* data, size_t size, size_t) {
        if (size > 0)
            data[size / 2] ^= 0x01;
        return size;
    };
    for (unsigned seed = 1; seed <= 4000 && (reached.size() < wanted.size() || accepted == 0);
         ++seed) {
        std::vector<uint8_t> data(maxSize);
        std::copy(book.cbegin(), book.cend(), data.begin());
        const size_t size = fuzz::mutateContainer(data.data(), static_cast<size_t>(book.size()),
                                                  maxSize, seed, flipOne);
        ASSERT_LE(size, maxSize);
        const QByteArray file(reinterpret_cast<const char*>(data.data()),
                              static_cast<qsizetype>(size));
        QString reason;
        const auto layout = CHMContainerLayout::parse(
            file.left(0x60), static_cast<quint64>(file.size()),
            [&file](quint64 at, quint64 length) {
                return file.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(length));
            },
            &reason);
        if (layout)
            ++accepted;
        for (const QString& w : wanted) {
            if (reason.contains(w))
                reached.insert(w);
        }
    }
    for (const QString& w : wanted)
        EXPECT_TRUE(reached.contains(w)) << "never refused for: " << w.toStdString();
    EXPECT_GT(accepted, 0);
}
