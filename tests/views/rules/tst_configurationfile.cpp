// The exported configuration: its exact keys and values, the round trip of every field, the
// import's refusals, and files that are truncated, forged or not a configuration at all.

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "receive/ReceiveFaults.h"
#include "receive/ReceiverFiles.h"
#include "receive/RecvPartFiles.h"
#include "support/TestSupport.h"
#include "views/rules/ConfigurationFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

using TestSupport::PromptRecorder;

namespace {

const QString kGapA = QStringLiteral("10.0.0.1");
const QString kGapB = QStringLiteral("fd00:1234:5678:9abc:def0:1234:5678:9abc"); // 39 characters

struct GapSpec {
    QString address;
    QString user;
    QByteArray password;
};

struct SendSpec {
    QString dir; // under the test directory
    QByteArray pathID;
    QString gap;
    QByteArray toUser;
    int level;
    QByteArray fromUser;
};

struct RecvSpec {
    QString dir;
    QByteArray pathID;
    QString gap;
    QByteArray fromUser;
};

int fileMode(const QString &path)
{
    struct stat info {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

QString text(const char *field, int size)
{
    return QString::fromLatin1(field, int(strnlen(field, size_t(size))));
}

// Path keys and the sending users of receive paths hold the gap's UTF-8.
QString utf8(const char *field, int size)
{
    return QString::fromUtf8(field, int(strnlen(field, size_t(size))));
}

// Everything the file carries of the three registries, one line per record.
QStringList registryLines()
{
    QStringList lines;
    for (const _VKGAPIP_CONF *g : g_GapInfoList.snapshot())
        lines << QStringLiteral("gap|%1|%2|%3|%4")
                     .arg(text(g->HostIP, kHostIPSize), text(g->LoginUserName, kUserNameSize),
                         text(g->LoginPswd, kUserNameSize), g->hostIPStr);
    for (const _SENDPATH_LISTDATA *r : g_SendPathList.snapshot())
        lines << QStringLiteral("send|%1|%2|%3|%4|%5|%6")
                     .arg(r->SendPath, utf8(r->SendPathID, kPathIDSize),
                         text(r->GapIP, kHostIPSize), text(r->ToUser, kUserNameSize))
                     .arg(r->RecviverLevel.load())
                     .arg(text(r->FromUser, kUserNameSize));
    for (const _RECVPATH_LISTDATA *r : g_RecvPathList.snapshot())
        lines << QStringLiteral("recv|%1|%2|%3|%4")
                     .arg(r->RecvPath, utf8(r->RecvPathID, kPathIDSize),
                         text(r->GapIP, kHostIPSize), utf8(r->FromUser, kUserNameSize));
    return lines;
}

void freeRegistries()
{
    qDeleteAll(g_GapInfoList.snapshot());
    qDeleteAll(g_SendPathList.snapshot());
    qDeleteAll(g_RecvPathList.snapshot());
    g_GapInfoList.clear();
    g_SendPathList.clear();
    g_RecvPathList.clear();
}

void addGap(const GapSpec &spec)
{
    auto *gap = new _VKGAPIP_CONF;
    copyToField(gap->HostIP, kHostIPSize, spec.address.toLatin1());
    copyToField(gap->LoginUserName, kUserNameSize, spec.user.toLatin1());
    copyToField(gap->LoginPswd, kUserNameSize, spec.password);
    gap->hostIPStr = spec.address;
    g_GapInfoList.append(gap);
}

QString scrambled(const QByteArray &password)
{
    char buffer[BaseFunction::kCodecBufferSize];
    copyToField(buffer, sizeof buffer, password);
    return QString::fromLatin1(BaseFunction::crypPasswd(buffer));
}

} // namespace

Q_DECLARE_METATYPE(QList<SendSpec>)
Q_DECLARE_METATYPE(QList<RecvSpec>)

class TestConfigurationFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exportWritesTheKeysAndValues();
    void importReadsAFileWrittenByHand();
    void roundTripKeepsEveryField_data();
    void roundTripKeepsEveryField();
    void passwordSurvives_data();
    void passwordSurvives();
    void reimportAddsNothing();
    void exportIsOwnerOnly();
    void exportToUnwritablePlaceFails();
    void refusedRulesAreListedInOneBox();
    void rememberedRulesAreKept();
    void importChecksDirectoriesAsTheDialogsDo_data();
    void importChecksDirectoriesAsTheDialogsDo();
    void badGapEntriesAreRefused_data();
    void badGapEntriesAreRefused();
    void badRuleEntriesAreRefused_data();
    void badRuleEntriesAreRefused();
    void damagedFileImportsNothing_data();
    void damagedFileImportsNothing();
    void cancelledDialogSaysNothing();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString makeDir(const QString &name) const;
    void addSend(const SendSpec &spec) const;
    void addRecv(const RecvSpec &spec) const;
    QStringList importFile(const QString &file, bool *ok = nullptr,
        ConfigurationFile::Import kind = ConfigurationFile::Asked);
    void writeFile(const QString &name, const QByteArray &content) const;

    QTemporaryDir m_dir;
};

QString TestConfigurationFile::makeDir(const QString &name) const
{
    const QString dir = path(name);
    QDir().mkpath(dir);
    return dir;
}

void TestConfigurationFile::addSend(const SendSpec &spec) const
{
    auto *rule = new _SENDPATH_LISTDATA;
    rule->SendPath = makeDir(spec.dir);
    copyToField(rule->SendPathID, kPathIDSize, spec.pathID);
    copyToField(rule->GapIP, kHostIPSize, spec.gap.toLatin1());
    copyToField(rule->ToUser, kUserNameSize, spec.toUser);
    copyToField(rule->FromUser, kUserNameSize, spec.fromUser);
    rule->RecviverLevel = spec.level;
    g_SendPathList.append(rule);
}

void TestConfigurationFile::addRecv(const RecvSpec &spec) const
{
    auto *rule = new _RECVPATH_LISTDATA;
    rule->RecvPath = makeDir(spec.dir);
    copyToField(rule->RecvPathID, kPathIDSize, spec.pathID);
    copyToField(rule->GapIP, kHostIPSize, spec.gap.toLatin1());
    copyToField(rule->FromUser, kUserNameSize, spec.fromUser);
    g_RecvPathList.append(rule);
}

// The reasons the import gave for the entries it refused, in the order of the file, or the text
// of any other box (a file it could not read at all).
QStringList TestConfigurationFile::importFile(
    const QString &file, bool *ok, ConfigurationFile::Import kind)
{
    PromptRecorder boxes;
    const bool imported = ConfigurationFile::reStoreConf(file, kind);
    if (ok)
        *ok = imported;
    QStringList reasons;
    for (const PromptRequest &box : boxes.boxes()) {
        if (box.title != QStringLiteral("恢复配置")) {
            reasons << boxes.errorTexts();
            continue;
        }
        const QStringList lines = box.text.split('\n');
        const int refused = lines.indexOf(QStringLiteral("以下条目未能恢复："));
        for (int i = refused + 1; refused >= 0 && i < lines.size(); ++i)
            reasons << lines.at(i).mid(lines.at(i).lastIndexOf(QStringLiteral("）：")) + 2);
    }
    return reasons;
}

void TestConfigurationFile::writeFile(const QString &name, const QByteArray &content) const
{
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
}

void TestConfigurationFile::init() { QVERIFY(m_dir.isValid()); }

void TestConfigurationFile::cleanup() { freeRegistries(); }

void TestConfigurationFile::exportWritesTheKeysAndValues()
{
    addGap({ kGapA, "alice", "pw" });
    addSend({ QStringLiteral("out"), "ALICE-TO-BOB", kGapA, "bob", 2, "alice" });
    addRecv({ QStringLiteral("in"), QStringLiteral("机密").toUtf8(), kGapA, "bob" });
    const QString file = path(QStringLiteral("keys.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));

    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(written.readAll()).split('\n');
    const QString scrambledPw = scrambled("pw");
    QVERIFY(!scrambledPw.isEmpty());
    const QStringList expected { "[VKGAPINFO]", "GapIPCount=1", "GapIP_0=10.0.0.1",
        "HostIP_0=10.0.0.1", "LoginUserName_0=alice", "LoginPswd_0=" + scrambledPw, "[SENDINFO]",
        "SendInfoNum=1", "SendPath_0=" + path(QStringLiteral("out")), "SendPathID_0=ALICE-TO-BOB",
        "SendPathGapIP_0=10.0.0.1", "ToUser_0=bob", "RecviverLevel_0=2", "FromUser_0=alice",
        "[RECVINO]", "RecvInfoNum=1", "RecvPath_0=" + path(QStringLiteral("in")),
        "RecvPathID_0=\\x673a\\x5bc6", "RecvPathGapIP_0=10.0.0.1", "FromUser_0=bob" };
    for (const QString &line : expected)
        QVERIFY2(lines.contains(line), qPrintable(line));
    // The record keeps its password in clear for the next login.
    QCOMPARE(text(g_GapInfoList.first()->LoginPswd, kUserNameSize), QStringLiteral("pw"));
}

void TestConfigurationFile::importReadsAFileWrittenByHand()
{
    // As Qt writes such a file: non-ASCII as \x escapes, a value with a comma or a ';' quoted.
    makeDir(QStringLiteral("中文"));
    // A part file left by a run that ended mid-file, on a file system without unnamed files,
    // goes in the background once the rule is added.
    ReceiveFaults::setNoUnnamedFiles(true);
    const QByteArray stalePart
        = QFile::encodeName(makeDir(QStringLiteral("a=b;c, d"))) + '/' + RecvPartFiles::partName(7);
    QVERIFY(ReceiverFiles::writeRawFile(stalePart, "x"));
    const QByteArray root = QFile::encodeName(m_dir.path());
    writeFile(QStringLiteral("hand.vkg"),
        "[RECVINO]\nRecvInfoNum=1\nRecvPath_0=\"" + root
            + "/a=b;c, d\"\nRecvPathID_0=IN\\x4e2d\nRecvPathGapIP_0=10.0.0.1\nFromUser_0=bob\n"
              "[SENDINFO]\nSendInfoNum=1\nSendPath_0="
            + root
            + "/\\x4e2d\\x6587\nSendPathID_0=OUT\nSendPathGapIP_0=10.0.0.1\nToUser_0=bob\n"
              "RecviverLevel_0=1\nFromUser_0=alice\n"
              "[VKGAPINFO]\nGapIPCount=1\nGapIP_0=10.0.0.1\nHostIP_0=10.0.0.1\n"
              "LoginUserName_0=alice\nLoginPswd_0="
            + scrambled("pw").toLatin1() + "\n");
    bool ok = false;
    QCOMPARE(importFile(path(QStringLiteral("hand.vkg")), &ok), QStringList());
    QVERIFY(ok);
    QCOMPARE(registryLines(),
        QStringList({ "gap|10.0.0.1|alice|pw|10.0.0.1",
            "send|" + path(QStringLiteral("中文")) + "|OUT|10.0.0.1|bob|1|alice",
            "recv|" + path(QStringLiteral("a=b;c, d")) + "|IN中|10.0.0.1|bob" }));
    QTRY_VERIFY(!ReceiverFiles::rawExists(stalePart));
    ReceiveFaults::setNoUnnamedFiles(false);
}

void TestConfigurationFile::roundTripKeepsEveryField_data()
{
    QTest::addColumn<QList<SendSpec>>("sends");
    QTest::addColumn<QList<RecvSpec>>("recvs");

    const QByteArray utf8Key = QStringLiteral("规则-一").toUtf8(); // stored as its bytes
    QTest::newRow("plain") << QList<SendSpec> { { "send", "KEY-1", kGapA, "bob", 0, "alice" } }
                           << QList<RecvSpec> { { "recv", "KEY-2", kGapA, "bob" } };
    QTest::newRow("chinese paths and keys")
        << QList<SendSpec> { { "发送/目录 一", utf8Key, kGapA, "bob", 2, "alice" } }
        << QList<RecvSpec> { { "接收 目录", utf8Key, kGapB, "\xe5\xbc\xa0" } };
    QTest::newRow("ini specials") << QList<SendSpec> {
        { "a=b;c/d e, f#g", "k=1;2/3 4,5#6\"7\\8%9", kGapA, "to=a;b c", 1, "[from] ;x" },
        { " lead and trail ", "@Variant(x)", kGapB, "\"q\"", 2, "%20" }
    } << QList<RecvSpec> { { "[group]/x=y", "k;=/ \\", kGapB, "a=b; c" } };
    QTest::newRow("many, in order") << QList<SendSpec> {
        { "s0", "K0", kGapA, "u0", 0, "f0" }, { "s1", "K1", kGapA, "u1", 1, "f1" },
        { "s2", "K2", kGapB, "u2", 2, "f2" }, { "s3", "K0", kGapB, "u3", 0, "f3" }
    } << QList<RecvSpec> { { "r0", "K0", kGapA, "f0" }, { "r1", "K0", kGapB, "f1" } };
}

void TestConfigurationFile::roundTripKeepsEveryField()
{
    QFETCH(QList<SendSpec>, sends);
    QFETCH(QList<RecvSpec>, recvs);
    addGap({ kGapA, "alice", "p=w;d/ 1" });
    addGap({ kGapB, "b=c;d e/", "~~~~~~~~~~~~~~~~" });
    for (const SendSpec &spec : sends)
        addSend(spec);
    for (const RecvSpec &spec : recvs)
        addRecv(spec);
    const QStringList before = registryLines();
    const QString file = path(QStringLiteral("round.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    freeRegistries();

    bool ok = false;
    QCOMPARE(importFile(file, &ok), QStringList());
    QVERIFY(ok);
    QCOMPARE(registryLines(), before);
    for (const _SENDPATH_LISTDATA *rule : g_SendPathList.snapshot()) {
        QCOMPARE(rule->sendState.load(), 3);
        QCOMPARE(rule->statusText, QStringLiteral("发送未启动"));
        QCOMPARE(rule->gapConf, BaseFunction::findVkgapinfo(text(rule->GapIP, kHostIPSize)));
        QVERIFY(rule->gapConf);
    }
    for (const _VKGAPIP_CONF *gap : g_GapInfoList.snapshot())
        QCOMPARE(gap->connState.load(), 0); // logged in later by the heartbeat
}

void TestConfigurationFile::passwordSurvives_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("one") << QByteArray("x");
    QTest::newRow("specials") << QByteArray("a=b;c d/e\"f%g#h,");
    QTest::newRow("scrambles past 127") << QByteArray("~~~~~~~~~~~~~~~~");
    QTest::newRow("backslashes") << QByteArray("\\x41\\\\");
    QTest::newRow("every printable") << QByteArray(" !\"#$%&'()*+,-./");
    QTest::newRow("upper printable") << QByteArray("pqrstuvwxyz{|}~`");
}

void TestConfigurationFile::passwordSurvives()
{
    QFETCH(QByteArray, password);
    addGap({ kGapA, "alice", password });
    const QString file = path(QStringLiteral("pw.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    freeRegistries();
    QCOMPARE(importFile(file), QStringList());
    QCOMPARE(g_GapInfoList.size(), 1);
    QCOMPARE(QByteArray(g_GapInfoList.first()->LoginPswd), password);
}

void TestConfigurationFile::reimportAddsNothing()
{
    addGap({ kGapA, "alice", "pw" });
    addSend({ QStringLiteral("s"), "K", kGapA, "bob", 1, "alice" });
    addRecv({ QStringLiteral("r"), "K", kGapA, "bob" });
    const QStringList before = registryLines();
    const QString file = path(QStringLiteral("same.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    bool ok = false;
    QCOMPARE(importFile(file, &ok), QStringList());
    QVERIFY(ok);
    QCOMPARE(registryLines(), before);
}

void TestConfigurationFile::exportIsOwnerOnly()
{
    addGap({ kGapA, "alice", "pw" });
    const QString file = path(QStringLiteral("mode.vkg"));
    writeFile(QStringLiteral("mode.vkg"), "old content that is longer than the export would be\n");
    QVERIFY(QFile::setPermissions(file,
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
            | QFileDevice::ReadOther));
    QVERIFY(ConfigurationFile::saveConf(file));
    QCOMPARE(fileMode(file), 0600);
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(!written.readAll().contains("old content"));

    const QString fresh = path(QStringLiteral("fresh.vkg"));
    QVERIFY(ConfigurationFile::saveConf(fresh));
    QCOMPARE(fileMode(fresh), 0600);
}

void TestConfigurationFile::exportToUnwritablePlaceFails()
{
    addGap({ kGapA, "alice", "pw" });
    PromptRecorder boxes;
    QVERIFY(!ConfigurationFile::saveConf(path(QStringLiteral("missing/dir/x.vkg"))));
    QVERIFY(!ConfigurationFile::saveConf(QString()));
    QVERIFY(boxes.texts().isEmpty()); // the export ends silently
}

// One box says what was added, names what was already listed and every refused entry with its
// reason; a send rule whose directory is not there yet is kept and named as waiting for it.
void TestConfigurationFile::refusedRulesAreListedInOneBox()
{
    addGap({ kGapA, "alice", "pw" });
    addGap({ kGapB, "bob", "pw" });
    addSend({ QStringLiteral("ok"), "OK", kGapA, "bob", 0, "alice" });
    addSend({ QStringLiteral("gone"), "GONE", kGapA, "bob", 0, "alice" });
    addSend({ QStringLiteral("nogap"), "NOGAP", kGapB, "bob", 0, "alice" });
    addSend({ QStringLiteral("ok"), "OK", kGapA, "carol", 1, "alice" }); // same gap and key
    addRecv({ QStringLiteral("rgone"), "RG", kGapA, "bob" });
    addRecv({ QStringLiteral("rnogap"), "RN", kGapB, "bob" });
    addRecv({ QStringLiteral("rok"), "RK", kGapA, "bob" });
    const QString file = path(QStringLiteral("refused.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    freeRegistries();
    QVERIFY(QDir(path(QStringLiteral("gone"))).removeRecursively());
    QVERIFY(QDir(path(QStringLiteral("rgone"))).removeRecursively());
    addGap({ kGapA, "alice", "pw" }); // the file's second gap is dropped from the file below
    QSettings edit(file, QSettings::IniFormat);
    edit.setValue(QStringLiteral("VKGAPINFO/GapIPCount"), 1);
    edit.sync();

    bool ok = true;
    PromptRecorder boxes;
    QVERIFY(!ConfigurationFile::reStoreConf(file));
    QCOMPARE(boxes.boxes().size(), 1);
    const PromptRequest box = boxes.boxes().first();
    QCOMPARE(box.title, QStringLiteral("恢复配置"));
    QCOMPARE(box.icon, PromptRequest::Warning);
    const QString gone = path(QStringLiteral("gone"));
    QCOMPARE(box.text.split('\n'),
        QStringList({ QStringLiteral("已从 %1 恢复 3 项配置。").arg(file),
            QStringLiteral("以下发送目录尚不存在，出现后即开始发送："),
            QStringLiteral("发送目录 %1（隔离器 10.0.0.1，路径 GONE）").arg(gone),
            QStringLiteral("以下条目已存在，未重复添加："),
            QStringLiteral("隔离器 10.0.0.1（用户 alice）"),
            QStringLiteral("发送目录 %1（隔离器 10.0.0.1，路径 OK）")
                .arg(path(QStringLiteral("ok"))),
            QStringLiteral("以下条目未能恢复："),
            QStringLiteral(
                "发送目录 %1（隔离器 %2，路径 NOGAP）：发送目录-隔离器地址未连接-恢复失败")
                .arg(path(QStringLiteral("nogap")), kGapB),
            QStringLiteral(
                "接收目录 %1（隔离器 10.0.0.1，路径 RG）：接收目录-文件路径已不存在-恢复失败")
                .arg(path(QStringLiteral("rgone"))),
            QStringLiteral("接收目录 %1（隔离器 %2，路径 RN）：接收目录-隔离器地址未连接-恢复失败")
                .arg(path(QStringLiteral("rnogap")), kGapB) }));
    QCOMPARE(registryLines(),
        QStringList({ "gap|10.0.0.1|alice|pw|10.0.0.1",
            "send|" + path(QStringLiteral("ok")) + "|OK|10.0.0.1|bob|0|alice",
            "send|" + gone + "|GONE|10.0.0.1|bob|0|alice",
            "recv|" + path(QStringLiteral("rok")) + "|RK|10.0.0.1|bob" }));
    Q_UNUSED(ok)
}

// At a start, the remembered rules come back as they were: a receive rule whose directory is on a
// mount not up yet, and send rules one inside the other from an older version, are kept; nothing
// needs telling. An import at every start (--import) says nothing of entries already listed.
void TestConfigurationFile::rememberedRulesAreKept()
{
    addGap({ kGapA, "alice", "pw" });
    addSend({ QStringLiteral("outer"), "OUT", kGapA, "bob", 0, "alice" });
    addSend({ QStringLiteral("outer/inner"), "IN", kGapA, "bob", 0, "alice" });
    addRecv({ QStringLiteral("mount"), "RM", kGapA, "bob" });
    const QString file = path(QStringLiteral("remembered.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    const QStringList before = registryLines();
    freeRegistries();
    QVERIFY(QDir(path(QStringLiteral("mount"))).removeRecursively());

    bool ok = false;
    QCOMPARE(importFile(file, &ok, ConfigurationFile::Remembered), QStringList());
    QVERIFY(ok);
    QCOMPARE(registryLines(), before);
    QCOMPARE(importFile(file, &ok, ConfigurationFile::Unattended), QStringList());
    QVERIFY(ok);
    QCOMPARE(registryLines(), before);
}

// An import refuses what the rule dialogs refuse: a receive directory equal to, inside or above a
// send directory (and the other way round), a send directory inside or above another one, a
// receive directory that cannot be written.
void TestConfigurationFile::importChecksDirectoriesAsTheDialogsDo_data()
{
    QTest::addColumn<QString>("sendDir");
    QTest::addColumn<QString>("recvDir");
    QTest::addColumn<QString>("reason"); // of the second rule of the file
    QTest::newRow("receive inside send") << "s"
                                         << "s/r"
                                         << "接收目录位于发送目录之内,请重新选择目录路径！";
    QTest::newRow("receive above send") << "r/s"
                                        << "r"
                                        << "接收目录包含发送目录,请重新选择目录路径！";
    QTest::newRow("receive equal to send")
        << "s"
        << "s/"
        << "接收目录路径不能和发送目录路径相同,请重新选择目录路径！";
    QTest::newRow("second send inside the first")
        << "s"
        << ""
        << "发送目录位于另一发送目录之内,请重新选择目录路径！";
    QTest::newRow("receive directory not writable") << "s"
                                                    << "/proc"
                                                    << "接收目录不可写,请重新选择目录路径！";
}

void TestConfigurationFile::importChecksDirectoriesAsTheDialogsDo()
{
    QFETCH(QString, sendDir);
    QFETCH(QString, recvDir);
    QFETCH(QString, reason);
    addGap({ kGapA, "alice", "pw" });
    addSend({ sendDir, "S1", kGapA, "bob", 0, "alice" });
    if (recvDir.isEmpty())
        addSend({ sendDir + "/inner", "S2", kGapA, "bob", 0, "alice" });
    else if (recvDir.startsWith('/'))
        addRecv({ QStringLiteral("placeholder"), "R1", kGapA, "bob" });
    else
        addRecv({ recvDir, "R1", kGapA, "bob" });
    const QString file = path(QStringLiteral("nested.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    if (recvDir.startsWith('/')) {
        QSettings edit(file, QSettings::IniFormat);
        edit.setValue(QStringLiteral("RECVINO/RecvPath_0"), recvDir);
    }
    freeRegistries();
    addGap({ kGapA, "alice", "pw" });
    bool ok = true;
    QCOMPARE(importFile(file, &ok), QStringList { reason });
    QVERIFY(!ok);
    QCOMPARE(g_SendPathList.size() + g_RecvPathList.size(), 1);
}

void TestConfigurationFile::badGapEntriesAreRefused_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("address not an address") << "GapIP_0"
                                            << "gap.example";
    QTest::newRow("host not an address") << "HostIP_0"
                                         << "";
    QTest::newRow("no user") << "LoginUserName_0"
                             << "";
    QTest::newRow("user too long") << "LoginUserName_0" << QString(20, 'u');
    QTest::newRow("user beyond Latin-1") << "LoginUserName_0" << QStringLiteral("张三");
    QTest::newRow("password too long") << "LoginPswd_0" << QString(20, 'p');
}

void TestConfigurationFile::badGapEntriesAreRefused()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    addGap({ kGapA, "alice", "pw" });
    addGap({ kGapB, "bob", "pw" });
    const QString file = path(QStringLiteral("badgap.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    freeRegistries();
    {
        QSettings edit(file, QSettings::IniFormat);
        edit.setValue("VKGAPINFO/" + key, value);
    }
    bool ok = true;
    QCOMPARE(importFile(file, &ok), QStringList { "隔离器-配置无效-恢复失败" });
    QVERIFY(!ok);
    QCOMPARE(registryLines(), QStringList { "gap|" + kGapB + "|bob|pw|" + kGapB });
}

void TestConfigurationFile::badRuleEntriesAreRefused_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");
    const QString send = QStringLiteral("发送目录-配置无效-恢复失败");
    const QString recv = QStringLiteral("接收目录-配置无效-恢复失败");
    QTest::newRow("no send key") << "SENDINFO/SendPathID_0"
                                 << "" << send;
    QTest::newRow("send key too long") << "SENDINFO/SendPathID_0" << QString(40, 'k') << send;
    QTest::newRow("receiver too long") << "SENDINFO/ToUser_0" << QString(20, 't') << send;
    QTest::newRow("sender beyond Latin-1")
        << "SENDINFO/FromUser_0" << QStringLiteral("张三") << send;
    QTest::newRow("no receive key") << "RECVINO/RecvPathID_0"
                                    << "" << recv;
    QTest::newRow("receive sender too long") << "RECVINO/FromUser_0" << QString(20, 'f') << recv;
}

void TestConfigurationFile::badRuleEntriesAreRefused()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, message);
    addGap({ kGapA, "alice", "pw" });
    addSend({ QStringLiteral("s"), "K", kGapA, "bob", 1, "alice" });
    addRecv({ QStringLiteral("r"), "K", kGapA, "bob" });
    const QString file = path(QStringLiteral("badrule.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    {
        QSettings edit(file, QSettings::IniFormat);
        edit.setValue(key, value);
    }
    const QStringList before = registryLines();
    freeRegistries();
    addGap({ kGapA, "alice", "pw" });
    bool ok = true;
    QCOMPARE(importFile(file, &ok), QStringList { message });
    QVERIFY(!ok);
    QCOMPARE(registryLines().size(), before.size() - 1); // only the damaged rule is left out
}

void TestConfigurationFile::damagedFileImportsNothing_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: keep the export, cut in half
    QTest::addColumn<QString>("edit"); // "key=value" changed in the export
    QTest::addColumn<QString>("message");
    const QString damaged = QStringLiteral("配置文件已损坏-恢复失败");
    QTest::newRow("truncated") << QByteArray() << QString() << damaged;
    QTest::newRow("empty file") << QByteArray("") << "-" << damaged;
    QTest::newRow("garbage") << QByteArray("\x00\xff\x13[[[=\n\x01=;;\"\\x\n", 16) << "-"
                             << damaged;
    QTest::newRow("text, no groups") << QByteArray("hello world\n") << "-" << damaged;
    QTest::newRow("forged count") << QByteArray() << "SENDINFO/SendInfoNum=2147483647" << damaged;
    QTest::newRow("negative count") << QByteArray() << "RECVINO/RecvInfoNum=-1" << damaged;
    QTest::newRow("count not a number") << QByteArray() << "VKGAPINFO/GapIPCount=two" << damaged;
}

void TestConfigurationFile::damagedFileImportsNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, edit);
    QFETCH(QString, message);
    addGap({ kGapA, "alice", "pw" });
    addSend({ QStringLiteral("s"), "K", kGapA, "bob", 1, "alice" });
    addRecv({ QStringLiteral("r"), "K", kGapA, "bob" });
    const QString file = path(QStringLiteral("damaged.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    freeRegistries();
    addGap({ kGapA, "alice", "pw" });
    const QStringList before = registryLines();

    if (edit == QLatin1String("-")) {
        writeFile(QStringLiteral("damaged.vkg"), content);
    } else if (edit.isEmpty()) {
        QFile whole(file);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        whole.close();
        writeFile(QStringLiteral("damaged.vkg"), bytes.left(bytes.size() / 2));
    } else {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue(edit.section('=', 0, 0), edit.section('=', 1));
    }
    bool ok = true;
    QCOMPARE(importFile(file, &ok), QStringList { message });
    QVERIFY(!ok);
    QCOMPARE(registryLines(), before);
}

void TestConfigurationFile::cancelledDialogSaysNothing()
{
    bool ok = true;
    QCOMPARE(importFile(QString(), &ok), QStringList());
    QVERIFY(!ok);
    QCOMPARE(importFile(path(QStringLiteral("none.vkg")), &ok),
        QStringList { "配置文件无法读取-恢复失败" });
    QCOMPARE(importFile(m_dir.path(), &ok), QStringList { "配置文件无法读取-恢复失败" });
    QVERIFY(registryLines().isEmpty());
}

QTEST_GUILESS_MAIN(TestConfigurationFile)
#include "tst_configurationfile.moc"
