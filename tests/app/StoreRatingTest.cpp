// The rating prompt: JSON value scanner, lookup addresses, and the lookup against a local HTTP server of its own.
#include "AppTestSupport.h"
#include "app/model/StoreLookup.h"
#include "app/ui/MacAppStoreRating.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

namespace {

TEST(StoreValueForKeyInJSON, ReadsValuesAsTheLookupNeedsThem) {
    struct Case {
        const char* key;
        QString json;
        std::optional<QString> expected;
    } cases[] = {
        {"trackId", R"({"resultCount":1, "trackId": 123456789, "x":1})", "123456789"},
        {"bundleId", "{\"bundleId\" :\n\t\"org.vantrell.Vantrell\" ,\n\"a\":1}", "org.vantrell.Vantrell"},
        {"name", R"({"name":"Crop, resize, convert","b":2})", "Crop, resize, convert"},  // up to the closing quote
        {"name", R"({"name":"a, b, c})", "a, b"},  // an unclosed string runs to the last comma there is
        // Escapes, the unicode one last.
        {"d", R"({"d":"caf\u00e9 \/ \"q\" back\\slash","e":0})", QString::fromUtf8("café / \"q\" back\\slash")},
        {"d", R"({"d":"\u00E9\u0041z","e":0})", QString::fromUtf8("éAz")},
        {"d", R"({"d":"tab\there","e":0})", "tab\there"},
        // Fewer than four characters after the escape: left as it stands.
        {"d", R"({"d":"x\u00","e":0})", "x\\u00"},
        // Hex digits only at the start count; all six characters go.
        {"d", R"({"d":"\u4zzz!","e":0})", QString(QChar(4)) + "!"},
        {"d", R"({"d":"\uzzzz","e":0})", QString(QChar(0))},
        // The last member of an object has no comma after it: not found.
        {"last", R"({"a":1,"last":"x"})", std::nullopt},
        {"missing", R"({"a":1,"b":2})", std::nullopt},
        {"a", R"({"a" 1, "b":2})", std::nullopt},  // the next colon is taken: no comma after it
        {"a", R"({"a")", std::nullopt},
        {"a", "", std::nullopt},
        // A decoded character that completes another escape with its neighbours.
        {"d", R"({"d":"\u005cu0041!","e":0})", "A!"},
        {"d", R"({"d":"\\\u0075005A","e":0})", "Z"},
        {"d", R"({"d":"\\\\n","e":0})", "\\\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StoreValueForKeyInJSON(QLatin1String(c.key), c.json), c.expected) << c.json.toStdString();
    }
}

// Replies of a megabyte made to cost the most: an unclosed string of commas and a string of escapes.
QByteArray UnclosedCommas() { return "{\"bundleId\":\"" + QByteArray("x,").repeated(500000) + "}"; }
QByteArray ManyEscapes() {
    return R"({"bundleId":"org.vantrell.Vantrell","trackId":"42)" + QByteArray("\\u0020").repeated(170000) +
           R"(","x":0})";
}

TEST(StoreValueForKeyInJSON, AMegabyteReplyIsReadInOnePass) {
    const std::optional<QString> commas = StoreValueForKeyInJSON("bundleId", QString::fromLatin1(UnclosedCommas()));
    ASSERT_TRUE(commas);
    EXPECT_EQ(commas->size(), 999999);  // up to the last comma
    const std::optional<QString> escapes = StoreValueForKeyInJSON("trackId", QString::fromLatin1(ManyEscapes()));
    ASSERT_TRUE(escapes);
    EXPECT_EQ(*escapes, "42" + QString(170000, QLatin1Char(' ')));
    EXPECT_EQ(StoreIDFromReply(ManyEscapes(), "org.vantrell.Vantrell"), 42u);
    EXPECT_EQ(StoreIDFromReply(UnclosedCommas(), "org.vantrell.Vantrell"), std::nullopt);
}

// Other hostile replies: nesting a parser would recurse into, the key many times, backslash runs, and every cut of a
// real reply. Each is read in one pass or refused.
TEST(StoreValueForKeyInJSON, HostileRepliesAreReadOrRefused) {
    const QByteArray ours = R"({"results":[{"bundleId":"org.vantrell.Vantrell","trackId":42,"x":0}]})";
    std::vector<QByteArray> replies = {
        QByteArray("[").repeated(1000000) + ours + QByteArray("]").repeated(1000000),
        QByteArray("\"bundleId\":").repeated(200000),
        "{\"trackId\":\"" + QByteArray("\\").repeated(500000) + "\",\"bundleId\":0}",
        QByteArray("\xff\xfe\x00", 3).repeated(300000),
    };
    for (qsizetype cut = 0; cut < ours.size(); ++cut) replies.push_back(ours.left(cut));
    for (const QByteArray& reply : replies) {
        // Ours, with or without a readable identifier (0), or not ours.
        const auto id = StoreIDFromReply(reply, "org.vantrell.Vantrell");
        EXPECT_TRUE(!id || *id == 42u || *id == 0u);
    }
    EXPECT_EQ(StoreIDFromReply(ours, "org.vantrell.Vantrell"), 42u);
}

TEST(StoreLookup, AddressesAreEncodedAndNeedAConfiguredBase) {
    EXPECT_EQ(StoreLookupURL("http://127.0.0.1:8080/", "", 0, "org.vantrell.Vantrell").toString(),
              "http://127.0.0.1:8080//lookup?country=&bundleId=org.vantrell.Vantrell");
    EXPECT_EQ(StoreLookupURL("https://lookup.example.org", "GB", 987, "ignored").toString(QUrl::FullyEncoded),
              "https://lookup.example.org//lookup?country=GB&id=987");
    EXPECT_EQ(StoreLookupURL("http://h", "a&b", 0, "x y#z?=&").toEncoded(),
              "http://h//lookup?country=a%26b&bundleId=x%20y%23z%3F%3D%26");
    for (const char* base : {"", "ftp://h", "h", "http://", "file:///tmp"})
        EXPECT_FALSE(StoreLookupURL(base, "GB", 0, "x").isValid()) << base;
    EXPECT_EQ(StorePageURL("https://apps.example.org/", 42).toString(), "https://apps.example.org/app/id42");
    EXPECT_FALSE(StorePageURL("", 42).isValid());
    EXPECT_FALSE(StorePageURL("https://apps.example.org", 0).isValid());
    for (const auto& [text, id] : {std::pair{"123", 123u}, {" 77abc", 77u}, {"abc", 0u}, {"99999999999999999999999", 0u}})
        EXPECT_EQ(StoreIDFromText(text), id) << text;
}

// Answers each request with one canned reply (or none at all) and keeps the request lines it saw.
class LoopbackStore : public QObject {
public:
    enum class Framing { Length, Chunked, CutShort, Silent, KeepOpen, UntilClose };
    explicit LoopbackStore(QByteArray status, QByteArray body, Framing framing = Framing::Length)
        : status_(std::move(status)), body_(std::move(body)), framing_(framing) {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    received_ += socket->readAll();
                    if (!received_.contains("\r\n\r\n") || framing_ == Framing::Silent) return;
                    requestLines.push_back(received_.left(received_.indexOf("\r\n")));
                    received_.clear();
                    QByteArray reply = "HTTP/1.1 " + status_ + "\r\nContent-Type: application/json\r\n";
                    if (framing_ == Framing::Chunked) {
                        // The body in two chunks, the first with an extension.
                        reply += "Transfer-Encoding: chunked\r\n\r\na;x=y\r\n" + body_.left(10) + "\r\n" +
                                 QByteArray::number(body_.size() - 10, 16) + "\r\n" + body_.mid(10) + "\r\n0\r\n\r\n";
                    } else if (framing_ == Framing::UntilClose) {
                        reply += "\r\n" + body_;
                    } else {
                        const qsizetype announced = body_.size() + (framing_ == Framing::CutShort ? 100 : 0);
                        reply += "Content-Length: " + QByteArray::number(announced) + "\r\n\r\n" + body_;
                    }
                    socket->write(reply);
                    // A server that keeps the connection: the length says where the reply ends.
                    if (framing_ != Framing::KeepOpen) socket->disconnectFromHost();
                });
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }
    std::vector<QByteArray> requestLines;

private:
    QTcpServer server_;
    QByteArray status_, body_, received_;
    Framing framing_;
};

// Runs the launch's lookup against the server; true once it has ended.
bool LookUp(MacAppStoreRating& rating, const LoopbackStore& store) {
    rating.setLookupBaseURL(store.base());
    bool finished = false;
    QObject::connect(&rating, &MacAppStoreRating::lookupFinished, [&] { finished = true; });
    rating.applicationLaunched();
    return WaitUntil([&] { return finished; });
}

class StoreRatingTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        rating.openURL = [this](const QUrl& url) { return opened.push_back(url), true; };
        rating.setAppStoreCountry(QString());
        rating.setPageBaseURL(QStringLiteral("https://apps.example.org"));
    }
    MacAppStoreRating rating;
    std::vector<QUrl> opened;
};

const QByteArray kOurRecord =
    R"({"resultCount":1,"results":[{"trackName":"Vantrell, batch","bundleId":"org.vantrell.Vantrell","trackId":424242,"price":0}]})";

TEST_F(StoreRatingTest, TheLookupSetsTheIdentifierAndTheActionOpensThePage) {
    LoopbackStore store("200 OK", kOurRecord);
    rating.RateApplicationAction();
    EXPECT_TRUE(opened.empty());
    ASSERT_TRUE(LookUp(rating, store));
    ASSERT_EQ(store.requestLines.size(), 1u);
    // An empty country is sent as empty, never as "(null)".
    EXPECT_EQ(store.requestLines[0], "GET //lookup?country=&bundleId=org.vantrell.Vantrell HTTP/1.1");
    EXPECT_EQ(rating.appStoreID(), 424242u);
    rating.RateApplicationAction();
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl("https://apps.example.org/app/id424242")}));
    // A page set explicitly wins.
    rating.setRatingsURL(QUrl("https://example.org/rate"));
    rating.RateApplicationAction();
    EXPECT_EQ(opened.back(), QUrl("https://example.org/rate"));
    // Once per launch only.
    rating.applicationLaunched();
    QCoreApplication::processEvents();
    EXPECT_FALSE(rating.isLookupRunning());
}

TEST_F(StoreRatingTest, RepliesThatDoNotNameUsLeaveTheIdentifierAtZero) {
    using Framing = LoopbackStore::Framing;
    const std::tuple<QByteArray, QByteArray, Framing> cases[] = {
        {"200 OK", kOurRecord, Framing::CutShort},
        {"200 OK", R"({"bundleId":"com.other.App","trackId":7,"x":0})", Framing::Length},
        {"200 OK", R"({"trackId":7,"bundleId":"org.vantrell.Vantrell"})", Framing::Length},  // no comma after the bundle
        {"200 OK", R"({"bundleId":"org.vantrell.Vantrell","trackName":"x"})", Framing::Length},  // no trackId
        {"200 OK", "", Framing::Length}, {"404 Not Found", kOurRecord, Framing::Length},
        {"500 Internal Server Error", kOurRecord, Framing::Length}, {"302 Found", kOurRecord, Framing::Length}};
    for (const auto& [status, body, framing] : cases) {
        MacAppStoreRating fresh;
        fresh.openURL = [this](const QUrl& url) { return opened.push_back(url), true; };
        fresh.setPageBaseURL(QStringLiteral("https://apps.example.org"));
        LoopbackStore store(status, body, framing);
        ASSERT_TRUE(LookUp(fresh, store)) << status.toStdString();
        EXPECT_EQ(fresh.appStoreID(), 0u) << status.toStdString() << " " << body.toStdString();
        fresh.RateApplicationAction();
        EXPECT_TRUE(opened.empty());
    }
}

// Every framing of a whole reply is read; a megabyte reply is read off the window's thread.
TEST_F(StoreRatingTest, EveryFramingOfAWholeReplyIsRead) {
    using Framing = LoopbackStore::Framing;
    const std::tuple<QByteArray, Framing, unsigned> cases[] = {
        {kOurRecord, Framing::Chunked, 424242u}, {kOurRecord, Framing::KeepOpen, 424242u},
        {kOurRecord, Framing::UntilClose, 424242u}, {UnclosedCommas(), Framing::Length, 0u},
        {ManyEscapes(), Framing::Length, 42u}};
    for (const auto& [body, framing, id] : cases) {
        MacAppStoreRating fresh;
        LoopbackStore store("200 OK", body, framing);
        ASSERT_TRUE(LookUp(fresh, store)) << int(framing);
        EXPECT_EQ(fresh.appStoreID(), id) << int(framing);
    }
}

TEST_F(StoreRatingTest, AStoreThatNeverAnswersTimesOut) {
    LoopbackStore store("200 OK", kOurRecord, LoopbackStore::Framing::Silent);
    rating.setLookupTimeout(200);
    ASSERT_TRUE(LookUp(rating, store));
    EXPECT_EQ(rating.appStoreID(), 0u);
    EXPECT_FALSE(rating.isLookupRunning());
}

TEST_F(StoreRatingTest, AKnownIdentifierIsLookedUpByIdAndKept) {
    LoopbackStore store("200 OK", R"({"bundleId":"org.vantrell.Vantrell","trackId":5,"x":0})");
    rating.setAppStoreID(99);
    rating.setAppStoreCountry("FR");
    ASSERT_TRUE(LookUp(rating, store));
    ASSERT_EQ(store.requestLines.size(), 1u);
    EXPECT_EQ(store.requestLines[0], "GET //lookup?country=FR&id=99 HTTP/1.1");
    EXPECT_EQ(rating.appStoreID(), 99u);
}

TEST_F(StoreRatingTest, NoConfiguredServiceMakesNoRequest) {
    rating.setLookupBaseURL(QString());
    bool finished = false;
    QObject::connect(&rating, &MacAppStoreRating::lookupFinished, [&] { finished = true; });
    rating.applicationLaunched();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(rating.isLookupRunning());
}

}  // namespace
