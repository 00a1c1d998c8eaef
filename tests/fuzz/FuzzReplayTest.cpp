#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cstdio>

#include "FuzzReplay.h"

namespace {

class Corpus : public ::testing::TestWithParam<FuzzTarget> {};

// Every saved input of a target (seeds and the inputs that once broke a reader) goes through
// the target again; a broken property aborts the program, so the test fails.
TEST_P(Corpus, EveryInputKeepsTheReadersProperties)
{
    const FuzzTarget target = GetParam();
    const QDir folder(QStringLiteral(KESTREL_FUZZ_CORPUS "/") + QLatin1String(target.name));
    const QStringList files = folder.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty()) << "no inputs in " << folder.path().toStdString();
    for (const QString& name : files) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray input = file.readAll();
        SCOPED_TRACE(name.toStdString());
        std::fprintf(stderr, "%s\n", qPrintable(file.fileName()));  // named before a crash
        EXPECT_EQ(target.run(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size())), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Corpus, ::testing::ValuesIn(FuzzTargets()),
                         [](const ::testing::TestParamInfo<FuzzTarget>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
