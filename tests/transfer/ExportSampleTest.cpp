// The export's sample is read once; every later change of a setting renders the rows held,
// sending nothing, and shows exactly what a fresh read of the server would.
#include <functional>
#include <memory>

#include "ExportFixture.h"
#include "transfer/CsvSample.h"

namespace {

QString shown(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

class ExportSample : public ExportFixture {
protected:
    void cleanUp() override { TestServer::run(*admin, QStringLiteral("drop table if exists kexp_held, kexp_wave")); }
};

}  // namespace

TEST_F(ExportSample, ASettingChangeRendersTheHeldRowsAsAFreshReadWould)
{
    run(QStringLiteral(
        "create table kexp_held (id int, v text);"
        "insert into kexp_held values (1, 'a\"b,c'), (2, null), (3, ''), (4, E'x\\r\\ny||z'),"
        " (5, 'ｶﾅ漢字''#');"
        "insert into kexp_held select g, 'n' || g from generate_series(6, 14) g;"
        "create table kexp_wave (id int, \"波〜\" text); insert into kexp_wave values (1, 'ok'), (2, '〜')"));
    const ExportSource sources[] = {
        {table(QStringLiteral("kexp_held")), QString()},
        {ObjectName{}, QStringLiteral("select id, v from kexp_held order by id")},
        {table(QStringLiteral("kexp_wave")), QString()},
    };
    struct Step {
        const char* what;
        std::function<void(CCsvExportDlg&)> apply;
        CsvSettings settings;
    };
    const Step steps[] = {
        {"tab", [](CCsvExportDlg& d) { delimiter(d, 1); }, {"\t", "\"", false}},
        {"single quote", [](CCsvExportDlg& d) { quote(d, 1); }, {"\t", "'", false}},
        {"header", [](CCsvExportDlg& d) { header(d, true); }, {"\t", "'", true}},
        {"user delimiter", [](CCsvExportDlg& d) { delimiter(d, QStringLiteral("||")); }, {"||", "'", true}},
        {"user quote", [](CCsvExportDlg& d) { quote(d, QStringLiteral("#")); }, {"||", "#", true}},
        {"empty user quote", [](CCsvExportDlg& d) { quote(d, QString()); }, {"||", "", true}},
        {"a quote CP932 cannot hold", [](CCsvExportDlg& d) { quote(d, QStringLiteral("—")); },
         {"||", "—", true}},
        {"defaults, no header",
         [](CCsvExportDlg& d) {
             delimiter(d, 0);
             quote(d, 0);
             header(d, false);
         },
         {",", "\"", false}},
    };
    for (const ExportSource& source : sources) {
        SCOPED_TRACE(source.sqlMode() ? source.sqlText.toStdString() : source.table.name.toStdString());
        auto opened = source.sqlMode() ? std::make_unique<CCsvExportDlg>(conn(), source.sqlText)
                                       : std::make_unique<CCsvExportDlg>(conn(), source.table);
        CCsvExportDlg& dlg = *opened;
        control<QRadioButton>(dlg, "delimiterDefaultRadio")->click();  // the one read
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            {
                StatementLog sent(conn());
                step.apply(dlg);
                EXPECT_TRUE(sent.statements().isEmpty()) << sent.statements().join(u'/').toStdString();
            }
            EXPECT_EQ(sample(dlg), shown(BuildCsvSample(conn(), source, step.settings)));
        }
        // What both show is the rows, or the character CP932 cannot hold.
        const QString last = sample(dlg);
        if (source.table.name == u"kexp_wave")
            EXPECT_TRUE(last.contains(u'〜')) << last.toStdString();
        else
            EXPECT_TRUE(last.startsWith(QStringLiteral("\"1\",\"a\"\"b,c\"\n\"2\",\"\"\n"))) << last.toStdString();
        EXPECT_EQ(last.count(u'\n'), source.table.name == u"kexp_wave" ? 0 : 11);
    }
}
