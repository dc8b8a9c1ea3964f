// SPDX-License-Identifier: GPL-3.0-or-later
#include "faketransfer.h"
#include "recordingview.h"

#include "harvest/pageharvest.h"
#include "platform/programfolder.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "awaittask.h"

#include <QCoro/QCoroTask>

#include "testfiles.h"

#include <gtest/gtest.h>

#include <new>

using namespace Qt::StringLiterals;

namespace {

const QString kNoImagesStatus = u"画像ファイルが存在しない．"_s;
const QString kNoImagesMessage = u"画像ファイルがありません。"_s;
const QString kConnectionError = u"接続エラーの様です。"_s;
const QString kFinished = u"取り込み終了。"_s;

// One whole run, awaited with the event loop running.
PageHarvest::Outcome run(PageHarvest &harvest, const QString &address)
{
    return awaitTask(harvest.run(address));
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

class PageHarvestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        saveFolder = dir.path() + u"/save/"_s;
        ASSERT_TRUE(QDir().mkpath(saveFolder));
        harvest.setSavePathName(saveFolder);
    }

    QTemporaryDir dir;
    QString saveFolder;
    FakeTransfer inet;
    RecordingView view;
    PageHarvest harvest{inet, view};
};

TEST_F(PageHarvestTest, SavesEveryImageAndShowsEachStepInOrder)
{
    view.typedAddress = u"http://host/dir/page.html"_s;
    const QString page = u"<img src=\"a.jpg\"><IMG SRC=/img/b.JPG><img src=http://other/c.jpg>"_s;
    inet.addText(view.typedAddress, page);
    inet.addBytes(u"http://host/dir/a.jpg"_s, QByteArray("A\0\xff"
                                                         "a",
                                                         4));
    inet.addBytes(u"http://host/img/b.JPG"_s, "BB");
    inet.addBytes(u"http://other/c.jpg"_s, QByteArray());

    EXPECT_EQ(run(harvest, view.typedAddress), PageHarvest::Outcome::Finished);

    EXPECT_EQ(inet.requested, QStringList({view.typedAddress, u"http://host/dir/a.jpg"_s,
                                           u"http://host/img/b.JPG"_s, u"http://other/c.jpg"_s}));
    EXPECT_EQ(view.events, QStringList({u"source"_s, u"clear"_s, u"add:a.jpg"_s, u"busy:1"_s,
                                        u"add:b.JPG"_s, u"busy:1"_s, u"add:c.jpg"_s, u"busy:1"_s,
                                        u"status:"_s + kFinished, u"beep"_s, u"busy:0"_s}));
    EXPECT_EQ(view.pageSource, page);
    EXPECT_EQ(readFile(saveFolder + u"a.jpg"_s), QByteArray("A\0\xff"
                                                            "a",
                                                            4));
    EXPECT_EQ(readFile(saveFolder + u"b.JPG"_s), QByteArray("BB"));
    EXPECT_EQ(readFile(saveFolder + u"c.jpg"_s), QByteArray());
    EXPECT_EQ(entries(saveFolder), QStringList({u"a.jpg"_s, u"b.JPG"_s, u"c.jpg"_s}));

    EXPECT_EQ(harvest.imageFile(), saveFolder + u"c.jpg"_s);
    EXPECT_FALSE(harvest.isRunning());
}

TEST_F(PageHarvestTest, PageWithoutImagesKeepsThePreviousHarvest)
{
    view.typedAddress = u"http://host/first.html"_s;
    inet.addText(view.typedAddress, u"src=one.jpg"_s);
    inet.addBytes(u"http://host/one.jpg"_s, "1");
    ASSERT_EQ(run(harvest, view.typedAddress), PageHarvest::Outcome::Finished);
    view.events.clear();

    view.typedAddress = u"http://host/sub/none.html"_s;
    inet.addText(view.typedAddress, u"<img src=x.png> no jpeg here"_s);
    EXPECT_EQ(run(harvest, view.typedAddress), PageHarvest::Outcome::NoImages);

    EXPECT_EQ(view.events, QStringList({u"source"_s, u"status:"_s + kNoImagesStatus,
                                        u"message:"_s + kNoImagesMessage}));
    EXPECT_EQ(view.imageList, QStringList({u"one.jpg"_s}));
    EXPECT_EQ(view.pageSource, u"<img src=x.png> no jpeg here"_s);
    EXPECT_EQ(entries(saveFolder), QStringList({u"one.jpg"_s}));
}

TEST_F(PageHarvestTest, FailuresEndTheHarvestKeepingWhatWasDone)
{
    struct Case {
        const char *name;
        bool pageFails;
        QStringList available; // images the server has, of a.jpg b.jpg c.jpg
        bool folderExists;
        QStringList events; // after the page source
        QStringList files;
    };
    const QString err = u"message:"_s + kConnectionError;
    const Case cases[] = {
        {"page cannot be fetched", true, {}, true, {err, u"busy:0"_s}, {}},
        {"first image missing", false, {}, true, {u"clear"_s, err, u"busy:0"_s}, {}},
        {"third image missing",
         false,
         {u"a.jpg"_s, u"b.jpg"_s},
         true,
         {u"clear"_s, u"add:a.jpg"_s, u"busy:1"_s, u"add:b.jpg"_s, u"busy:1"_s, err, u"busy:0"_s},
         {u"a.jpg"_s, u"b.jpg"_s}},
        {"save folder missing",
         false,
         {u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s},
         false,
         {u"clear"_s, u"add:a.jpg"_s, u"busy:1"_s, err, u"busy:0"_s},
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir tmp;
        FakeTransfer inet;
        RecordingView view;
        PageHarvest harvest(inet, view);
        const QString folder = tmp.path() + (c.folderExists ? u"/"_s : u"/missing/"_s);
        harvest.setSavePathName(folder);
        view.typedAddress = u"http://host/p.html"_s;
        view.pageSource = u"previous page"_s;
        const QString page = u"src=a.jpg src=b.jpg src=c.jpg"_s;
        if (!c.pageFails)
            inet.addText(view.typedAddress, page);
        for (const QString &name : c.available)
            inet.addBytes(u"http://host/"_s + name, name.toUtf8());

        EXPECT_EQ(run(harvest, view.typedAddress), PageHarvest::Outcome::Failed);

        QStringList expected = c.events;
        if (!c.pageFails)
            expected.prepend(u"source"_s);
        EXPECT_EQ(view.events, expected);
        EXPECT_EQ(view.pageSource, c.pageFails ? u"previous page"_s : page);
        EXPECT_FALSE(view.busy);
        EXPECT_FALSE(harvest.isRunning());
        EXPECT_EQ(entries(folder), c.files);
        for (const QString &name : c.files)
            EXPECT_EQ(readFile(folder + name), name.toUtf8());
    }
}

TEST_F(PageHarvestTest, NameTheFileSystemRefusesTakesTheFailurePath)
{
    const QString longName = QString(300, u'x') + u".jpg"_s;
    view.typedAddress = u"http://host/"_s;
    inet.addText(view.typedAddress, u"src=ok.jpg src="_s + longName + u" src=never.jpg"_s);
    inet.addBytes(u"http://host/ok.jpg"_s, "ok");
    inet.addBytes(u"http://host/"_s + longName, "long");
    inet.addBytes(u"http://host/never.jpg"_s, "never");

    EXPECT_EQ(run(harvest, view.typedAddress), PageHarvest::Outcome::Failed);
    EXPECT_EQ(view.imageList, QStringList({u"ok.jpg"_s, longName}));
    EXPECT_EQ(view.events.mid(view.events.size() - 2),
              QStringList({u"message:"_s + kConnectionError, u"busy:0"_s}));
    // No temporary file is left behind.
    EXPECT_EQ(entries(saveFolder), QStringList({u"ok.jpg"_s}));
}

TEST_F(PageHarvestTest, SaveFolderIsReadAfreshForEveryImage)
{
    const QString second = dir.path() + u"/second/"_s;
    ASSERT_TRUE(QDir().mkpath(second));
    view.typedAddress = u"http://host/"_s;
    inet.addText(view.typedAddress, u"src=1.jpg src=2.jpg src=3.jpg"_s);
    for (const char *n : {"1", "2", "3"})
        inet.addBytes(u"http://host/"_s + QLatin1String(n) + u".jpg"_s, n);
    // The user picks another folder while the second image is downloaded.
    inet.onFetch(u"http://host/2.jpg"_s, [&] { harvest.setSavePathName(second); });

    EXPECT_EQ(run(harvest, view.typedAddress), PageHarvest::Outcome::Finished);
    EXPECT_EQ(entries(saveFolder), QStringList({u"1.jpg"_s}));
    EXPECT_EQ(entries(second), QStringList({u"2.jpg"_s, u"3.jpg"_s}));
    EXPECT_EQ(harvest.imageFile(), second + u"3.jpg"_s);
}

TEST_F(PageHarvestTest, CreatesTheMissingDefaultSaveFolderOfANewAccount)
{
    // A new account: a home without a documents folder (nor user-dirs.dirs naming one).
    struct Env {
        const char *name;
        QByteArray old;
        bool wasSet;
    } env[] = {{"HOME", qgetenv("HOME"), qEnvironmentVariableIsSet("HOME")},
               {"XDG_CONFIG_HOME", qgetenv("XDG_CONFIG_HOME"),
                qEnvironmentVariableIsSet("XDG_CONFIG_HOME")}};
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + u"/.config"_s));
    const auto restore = qScopeGuard([&env] {
        for (const auto &e : env)
            e.wasSet ? qputenv(e.name, e.old) : qunsetenv(e.name);
    });
    const QString documents = defaultSaveFolder();
    ASSERT_EQ(documents, dir.path() + u"/Documents/"_s);
    harvest.setSavePathName(documents);
    view.typedAddress = u"http://host/"_s;
    inet.addText(view.typedAddress, u"src=a.jpg"_s);
    inet.addBytes(u"http://host/a.jpg"_s, "a");

    EXPECT_EQ(run(harvest, view.typedAddress), PageHarvest::Outcome::Finished);
    EXPECT_EQ(readFile(documents + u"a.jpg"_s), QByteArray("a"));
}

TEST_F(PageHarvestTest, SecondRunDuringATransferIsRefusedAndTheFirstGoesOn)
{
    view.typedAddress = u"http://host/dir/page.html"_s;
    inet.addText(view.typedAddress, u"src=a.jpg src=b.jpg"_s);
    inet.addBytes(u"http://host/dir/a.jpg"_s, "a");
    inet.addBytes(u"http://host/dir/b.jpg"_s, "b");
    PageHarvest::Outcome second = PageHarvest::Outcome::Finished;
    // While the first image is downloaded the user types another address and starts again.
    inet.onFetch(u"http://host/dir/a.jpg"_s,
                 [&] { second = run(harvest, u"http://elsewhere/x/other.html"_s); });

    EXPECT_EQ(run(harvest, view.typedAddress), PageHarvest::Outcome::Finished);
    EXPECT_EQ(second, PageHarvest::Outcome::Refused);
    EXPECT_FALSE(harvest.isRunning());
    EXPECT_EQ(inet.requested,
              QStringList({u"http://host/dir/page.html"_s, u"http://host/dir/a.jpg"_s,
                           u"http://host/dir/b.jpg"_s}));
    EXPECT_EQ(view.events,
              QStringList({u"source"_s, u"clear"_s, u"status:"_s + PageHarvest::refusedStatusText(),
                           u"add:a.jpg"_s, u"busy:1"_s, u"add:b.jpg"_s, u"busy:1"_s,
                           u"status:"_s + kFinished, u"beep"_s, u"busy:0"_s}));
    EXPECT_EQ(entries(saveFolder), QStringList({u"a.jpg"_s, u"b.jpg"_s}));
}

// A transfer whose failures are not TransferErrors.
class ThrowingTransfer : public UrlTransfer {
public:
    std::function<void()> thrower;
    int startTransfer(const QString &, qint32, const QString &, Lane, int) override { return 1; }
    QCoro::Task<TransferReply> finishTransfer(int) override
    {
        thrower();
        co_return {};
    }
    void cancelTransfer(int) override {}
};

TEST(PageHarvest, NoExceptionEscapes)
{
    const std::function<void()> throwers[] = {
        [] { throw TransferError(u"refused"_s); },
        [] { throw std::bad_alloc(); },
        [] { throw std::runtime_error("other"); },
        [] { throw 42; },
    };
    for (const auto &thrower : throwers) {
        ThrowingTransfer inet;
        inet.thrower = thrower;
        RecordingView view;
        view.typedAddress = u"http://host/"_s;
        PageHarvest harvest(inet, view);
        EXPECT_EQ(run(harvest, view.typedAddress), PageHarvest::Outcome::Failed);
        EXPECT_EQ(view.events, QStringList({u"message:"_s + kConnectionError, u"busy:0"_s}));
    }
}

} // namespace
