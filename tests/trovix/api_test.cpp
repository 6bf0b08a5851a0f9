// Every export against the simulated network camera on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <cjson/cJSON.h>
#include <dlfcn.h>
#include <iostream>
#include <random>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <lauxlib.h>
#include <lualib.h>

#include "sdk.h"
#include "sim_camera.h"
#include "test_util.h"
#include "trovix.h"

using simcam::Reply;
using simcam::SimCamera;

namespace {

std::string loginText(uint16_t port, const char *passwd = "\"pw\"")
{
    return std::string("{\"ip\":\"127.0.0.1\",\"port\":") + std::to_string(port) +
           ",\"cmd\":\"login\",\"login\":{\"username\":\"admin\",\"passwd\":" + passwd + "}}";
}

using trovixtest::member;
using trovixtest::threadCount;

class Library : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = camera.start();
        ASSERT_NE(port, 0);
        ASSERT_EQ(trovix_init(""), 0);
    }
    void TearDown() override
    {
        trovix_quit();
        camera.stop();
    }
    int login()
    {
        int id = 0;
        EXPECT_EQ(trovix_login(&id, loginText(port).c_str()), 0);
        return id;
    }
    SimCamera camera;
    uint16_t port = 0;
};

} // namespace

TEST(Lifecycle, StartsAndStopsRepeatedly)
{
    // One cycle first: sanitizers start helper threads of their own on the
    // first thread a program creates.
    ASSERT_EQ(trovix_init(nullptr), 0);
    trovix_quit();
    int before = threadCount();
    for (int i = 0; i < 5; i++) {
        ASSERT_EQ(trovix_init(nullptr), 0);
        EXPECT_EQ(trovix_init(""), 1);
        EXPECT_EQ(trovix_quit(), 0);
    }
    EXPECT_EQ(trovix_quit(), 0);
    EXPECT_EQ(threadCount(), before);
}

TEST(Lifecycle, EveryExportAnswers1WhileStopped)
{
    int id = 77;
    char *text = reinterpret_cast<char *>(1);
    qv_buf_md *md = reinterpret_cast<qv_buf_md *>(1);
    EXPECT_EQ(trovix_login(&id, "{}"), 1);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(trovix_request(1000, "{}", &text), 1);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(trovix_logout(1000), 1);
    EXPECT_EQ(trovix_discover_open(nullptr), 1);
    EXPECT_EQ(trovix_discover_run(1), 1);
    EXPECT_EQ(trovix_md_get(0, 0, 0, 0, &md), 1);
    EXPECT_EQ(md, nullptr);
    EXPECT_EQ(trovix_md_add_listener("k", [](void *, int, int, int, int, int, qv_buf_md *) { return 0; }, nullptr), 1);
    EXPECT_EQ(trovix_md_buf_add(nullptr), 0);
    EXPECT_EQ(trovix_md_buf_sub(nullptr), 0);
    trovix_free(nullptr);
}

static std::map<std::string, std::string> g_override;
static int overrideLookup(const char *name, const char **text, size_t *len)
{
    auto it = g_override.find(name);
    if (it != g_override.end()) {
        *text = it->second.data();
        *len = it->second.size();
        return 1;
    }
    return trovix_script_lookup(name, text, len);
}

TEST(Lifecycle, StartFailsCleanlyWhenTheScriptsFail)
{
    ASSERT_EQ(trovix_init(nullptr), 0);
    trovix_quit();
    int before = threadCount();
    testing::internal::CaptureStderr();
    g_override = { { "sdk.loader", "this is not lua" } };
    EXPECT_NE(sdk_start(overrideLookup), 0);
    EXPECT_EQ(sdk_current(), nullptr);
    g_override = { { "sdk.loader", "function setup() return 0 end function init() return 1 end "
                                   "function quit() return 0 end return {}" } };
    EXPECT_NE(sdk_start(overrideLookup), 0);
    EXPECT_EQ(sdk_current(), nullptr);
    g_override = { { "sdk.loader", "function setup() return 0 end function init() error('no') end return {}" } };
    EXPECT_NE(sdk_start(overrideLookup), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("lua_helper: "), std::string::npos);
    EXPECT_EQ(threadCount(), before);
    // Nothing was left behind: a normal start still works.
    EXPECT_EQ(trovix_init(""), 0);
    EXPECT_EQ(trovix_quit(), 0);
}

TEST(Lifecycle, OnlyTheInterfaceIsExported)
{
    void *lib = dlopen(TROVIX_SHARED_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char *name : { "trovix_init", "trovix_quit", "trovix_login", "trovix_logout", "trovix_request",
                              "trovix_free", "trovix_discover_open", "trovix_discover_close", "trovix_discover_run",
                              "trovix_discover_get_devs", "trovix_discover_request", "trovix_md_add_listener",
                              "trovix_md_remove_listener", "trovix_md_get", "trovix_md_clear", "trovix_md_buf_add",
                              "trovix_md_buf_sub", "luaopen_trovix", "trovix_dec_open", "trovix_dec_close",
                              "trovix_dec_bind", "trovix_dec_unbind", "trovix_dec_get_md_data",
                              "trovix_dec_free_md_data" })
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    for (const char *name : { "qv_h1", "sdk_start", "ncm_connect", "clua_env_create", "pf_tick_ms" })
        EXPECT_EQ(dlsym(lib, name), nullptr) << name;
    dlclose(lib);
}

TEST_F(Library, LoginIdsStartAt1000AndCarryTheCredentials)
{
    EXPECT_EQ(login(), 1000);
    EXPECT_EQ(login(), 1001);
    auto texts = camera.received();
    ASSERT_GE(texts.size(), 1u);
    EXPECT_EQ(member(texts[0].c_str(), { "cmd" }), "login");
    EXPECT_EQ(member(texts[0].c_str(), { "qqssid" }), "730418");
    EXPECT_EQ(member(texts[0].c_str(), { "login", "username" }), "admin");
    EXPECT_EQ(member(texts[0].c_str(), { "login", "passwd" }), "pw");
}

TEST_F(Library, RefusedLoginReturnsTheDevicesCode)
{
    camera.setLoginReply(Reply::refuse(4101));
    int id = 55;
    EXPECT_EQ(trovix_login(&id, loginText(port).c_str()), 4101);
    EXPECT_EQ(id, 0);
    // The refused connection is closed.
    EXPECT_TRUE(SimCamera::waitFor([&] { return camera.openConnections() == 0; }, 20000));
}

TEST_F(Library, DeviceCodesThatCannotPassOnAreAResultOfTheirOwn)
{
    // Not an integer in int's range, or one that would read as one of the
    // library's own results: TROVIX_DEVICE_CODE, never 0. Others pass on.
    const std::pair<const char *, int> cases[] = {
        { "4294967296", TROVIX_DEVICE_CODE }, { "2", TROVIX_DEVICE_CODE }, { "1.5", TROVIX_DEVICE_CODE },
        { "NaN", TROVIX_DEVICE_CODE },        { "1e400", TROVIX_DEVICE_CODE }, { "-7", -7 },
    };
    for (const auto &c : cases) {
        camera.setLoginReply(Reply::answer(std::string("{\"cmd\":\"login\",\"code\":") + c.first + "}"));
        int id = 55;
        EXPECT_EQ(trovix_login(&id, loginText(port).c_str()), c.second) << c.first;
        EXPECT_EQ(id, 0) << c.first;
    }
}

TEST_F(Library, ALostConnectionFailsItsWaitingCallersAtOnce)
{
    // 1 (failed), not the time-out's 2: the answers break the connection.
    const std::string deep = "{\"cmd\":\"login\",\"code\":0,\"a\":" + std::string(100000, '[') +
                             std::string(100000, ']') + "}";
    camera.setLoginReply(Reply::answer(deep));
    int id = 55;
    EXPECT_EQ(trovix_login(&id, loginText(port).c_str()), 1);
    camera.setLoginReply(Reply::hangUp());
    EXPECT_EQ(trovix_login(&id, loginText(port).c_str()), 1);
    EXPECT_EQ(id, 0);
    camera.setLoginReply(Reply::answer());
    id = login();
    camera.queueReply(Reply::hangUp());
    char *reply = nullptr;
    EXPECT_EQ(trovix_request(id, "{\"cmd\":\"get_image\"}", &reply), 1);
    trovix_free(reply);
}

TEST_F(Library, LoginTextWithoutPasswordFailsWithoutConnecting)
{
    int id = 55;
    EXPECT_EQ(trovix_login(&id, loginText(port, "null").c_str()), 1);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(trovix_login(&id, "not json"), 1);
    EXPECT_EQ(trovix_login(&id, nullptr), 1);
    pf_sleep_ms(50);
    EXPECT_EQ(camera.connectionsAccepted(), 0);
}

TEST_F(Library, SilentLoginTimesOutAndIsLoggedOut)
{
    camera.setLoginReply(Reply::silent());
    int id = 55;
    uint64_t start = pf_clock_ms();
    EXPECT_EQ(trovix_login(&id, loginText(port).c_str()), 2);
    uint64_t waited = pf_clock_ms() - start;
    EXPECT_EQ(id, 0);
    // One reply time-out, not a second one after it.
    EXPECT_GE(waited, uint64_t(TROVIX_REPLY_TIMEOUT_MS) - 10);
    EXPECT_LT(waited, 2 * uint64_t(TROVIX_REPLY_TIMEOUT_MS));
    // The login the caller gave up on does not stay open.
    EXPECT_TRUE(SimCamera::waitFor(
        [&] {
            auto cmds = camera.commands();
            return std::find(cmds.begin(), cmds.end(), "logout") != cmds.end();
        },
        3000));
}

TEST_F(Library, RequestsAreAnsweredInOrder)
{
    int id = login();
    camera.queueReply(Reply::answer({}, 300)); // the first answer is slow
    std::string first, second;
    std::thread a([&] {
        char *text = nullptr;
        EXPECT_EQ(trovix_request(id, "{\"cmd\":\"get_image\",\"tag\":\"first\"}", &text), 0);
        first = member(text, { "echo", "tag" });
        trovix_free(text);
    });
    pf_sleep_ms(50);
    char *text = nullptr;
    EXPECT_EQ(trovix_request(id, "{\"cmd\":\"get_image\",\"tag\":\"second\"}", &text), 0);
    second = member(text, { "echo", "tag" });
    trovix_free(text);
    a.join();
    EXPECT_EQ(first, "first");
    EXPECT_EQ(second, "second");
}

TEST_F(Library, UnaskedAnswersDoNotShiftLaterOnes)
{
    int id = login();
    camera.sendText("{\"cmd\":\"alarm\",\"alarm\":{\"code\":0}}");
    camera.sendText("{\"cmd\":\"get_image\",\"stray\":true}");
    pf_sleep_ms(100);
    char *text = nullptr;
    EXPECT_EQ(trovix_request(id, "{\"cmd\":\"get_image\",\"tag\":\"mine\"}", &text), 0);
    EXPECT_EQ(member(text, { "echo", "tag" }), "mine");
    trovix_free(text);
}

// Answers carry no request id. One that comes after its caller has given up
// is taken for that request, never for the next. A camera that never answers
// costs the next request of that command its answer (it can't be told
// whether its answer was the lost one's, late), and the one after it waits
// until its caller is about to give up; the request after that is answered
// at once. Once the camera has answered a request sent after the lost one,
// of any command, no answer of the lost one can come any more: whether that
// answer came before the lost one's caller gave up or after, the next
// request of the lost one's command is answered at once.
TEST_F(Library, LateAndSilentAnswersDoNotShiftLaterOnes)
{
    int id = login();
    std::string got;
    long long tookMs = 0;
    auto ask = [&](const char *cmd, const char *tag) {
        char *text = reinterpret_cast<char *>(1);
        const long long start = SimCamera::clockMs();
        int code = trovix_request(id, (std::string("{\"cmd\":\"") + cmd + "\",\"tag\":\"" + tag + "\"}").c_str(), &text);
        tookMs = SimCamera::clockMs() - start;
        got = code == 0 ? member(text, { "echo", "tag" }) : text ? "text" : "";
        if (code == 0)
            trovix_free(text);
        return code;
    };
    camera.queueReply(Reply::answer({}, 6500));
    EXPECT_EQ(ask("get_x", "late"), 2);
    EXPECT_EQ(got, "");
    EXPECT_EQ(ask("get_x", "after"), 0);
    EXPECT_EQ(got, "after");

    camera.queueReply(Reply::silent());
    EXPECT_EQ(ask("get_x", "lost"), 2);
    EXPECT_EQ(ask("get_x", "next"), 2);
    for (const char *tag : { "then", "again" }) {
        EXPECT_EQ(ask("get_x", tag), 0) << tag;
        EXPECT_EQ(got, tag);
    }
    EXPECT_LT(tookMs, 3000) << "again";

    // Answered past after the lost one's caller gave up ...
    camera.queueReply(Reply::silent());
    EXPECT_EQ(ask("get_x", "lost2"), 2);
    EXPECT_EQ(ask("get_x", "next2"), 2);
    EXPECT_EQ(ask("get_y", "other"), 0);
    EXPECT_EQ(got, "other");
    EXPECT_EQ(ask("get_x", "then2"), 0);
    EXPECT_EQ(got, "then2");
    EXPECT_LT(tookMs, 3000) << "then2";

    // ... and while it still waited.
    camera.queueReply(Reply::silent());
    std::thread lost([&] {
        char *text = nullptr;
        EXPECT_EQ(trovix_request(id, "{\"cmd\":\"get_x\",\"tag\":\"lost3\"}", &text), 2);
    });
    ASSERT_TRUE(SimCamera::waitFor(
        [&] {
            auto texts = camera.received();
            return !texts.empty() && member(texts.back().c_str(), { "tag" }) == "lost3";
        },
        5000));
    EXPECT_EQ(ask("get_y", "past"), 0);
    EXPECT_EQ(got, "past");
    lost.join();
    EXPECT_EQ(ask("get_x", "then3"), 0);
    EXPECT_EQ(got, "then3");
    EXPECT_LT(tookMs, 3000) << "then3";
}

// A copy of an answer can't be told from the next request's own answer
// unless it was read before that request was sent: a copy in the same
// write as its answer is dropped; one that comes while the next request
// waits is taken as that request's answer, and the request's own answer,
// coming when nothing waits, is dropped.
TEST_F(Library, ACopyIsDroppedWhenReadBeforeTheNextRequestAndTakenAfter)
{
    int id = login();
    auto ask = [&](const std::string &tag) {
        char *text = nullptr;
        EXPECT_EQ(trovix_request(id, ("{\"cmd\":\"get_image\",\"tag\":\"" + tag + "\"}").c_str(), &text), 0) << tag;
        std::string got = member(text, { "echo", "tag" });
        trovix_free(text);
        return got;
    };
    camera.setStandingReply(Reply::answer().sentTwice());
    for (int i = 0; i < 10; i++) {
        const std::string tag = "twice" + std::to_string(i);
        EXPECT_EQ(ask(tag), tag);
    }
    camera.setStandingReply(Reply::answer());
    // Also when the library takes the copy only after the next request went
    // out: a thousand unasked texts read with them keep it busy meanwhile.
    camera.queueReply(Reply::silent());
    std::string after;
    std::thread caller([&] {
        EXPECT_EQ(ask("held"), "held");
        after = ask("after");
    });
    ASSERT_TRUE(SimCamera::waitFor(
        [&] {
            auto texts = camera.received();
            return !texts.empty() && member(texts.back().c_str(), { "tag" }) == "held";
        },
        5000));
    const std::string held = simcam::textFrame("{\"cmd\":\"get_image\",\"code\":0,\"echo\":{\"tag\":\"held\"}}");
    std::string burst = held;
    for (int i = 0; i < 1000; i++)
        burst += simcam::textFrame("{\"cmd\":\"alarm\",\"n\":" + std::to_string(i) + "}");
    camera.sendRaw(burst + held);
    caller.join();
    EXPECT_EQ(after, "after");

    camera.queueReply(Reply::answer().repeatedAfter(300));
    camera.queueReply(Reply::answer({}, 1500));
    EXPECT_EQ(ask("first"), "first");
    EXPECT_EQ(ask("second"), "first");
    // Answered in order: once this is read, so is second's own answer.
    char *text = nullptr;
    ASSERT_EQ(trovix_request(id, "{\"cmd\":\"get_param\",\"tag\":\"other\"}", &text), 0);
    EXPECT_EQ(member(text, { "echo", "tag" }), "other");
    trovix_free(text);
    EXPECT_EQ(ask("third"), "third");
}

namespace {
// One request of a generated sequence: the value its answer carries and what
// the camera does with it. Values repeat, so answers of different requests
// are often the same bytes.
struct Step {
    enum Fault { None, Late, Lost, Twice } fault = None;
    std::string value;
    int delayMs = 0;
};

const char *faultName(Step::Fault f)
{
    static const char *names[] = { "in time", "late", "lost", "sent twice" };
    return names[f];
}

struct Outcome {
    int code = -1;
    std::string value;
    long long endMs = 0;
};

std::string answerOf(const std::string &value)
{
    return "{\"cmd\":\"get_v\",\"code\":0,\"get_v\":{\"code\":0,\"v\":\"" + value + "\"}}";
}

// Mostly quick, some slow, a few near the time-out; all in time.
int inTimeDelay(std::mt19937 &rng)
{
    const int kind = std::uniform_int_distribution<int>(0, 99)(rng);
    if (kind < 85)
        return std::uniform_int_distribution<int>(0, 20)(rng);
    if (kind < 97)
        return std::uniform_int_distribution<int>(20, 400)(rng);
    return std::uniform_int_distribution<int>(400, 5000)(rng);
}
} // namespace

// Over generated sequences (seeded; TROVIX_MATCH_SEED repeats one), with one
// to three requests of the command in flight. Each caller's result is checked
// against the answer the camera sent for its request (by the order the camera
// got them in).
// 1. Every answer in order and in time, values from two or three, latencies
//    from 0 to near the time-out: every request gets its own answer, handed
//    on as it is read (at most 1000 ms after the camera sent it, which leaves
//    room for a busy machine; nothing is held).
// 2. Late (after the caller gave up) and lost answers in one round of
//    requests or in two in a row, and doubled answers: no request ever gets
//    an answer that is not its own with 0; a late or lost one fails with 2;
//    those of the two rounds after a late or lost one get their own or 2;
//    from the third round on every request gets its own at once again.
TEST_F(Library, GeneratedAnswerSequencesGiveEveryRequestItsOwnAnswer)
{
    const char *given = getenv("TROVIX_MATCH_SEED");
    const unsigned seed = given ? unsigned(strtoul(given, nullptr, 10)) : std::random_device{}();
    std::cout << "seed " << seed << " (TROVIX_MATCH_SEED=" << seed << " repeats it)" << std::endl;
    RecordProperty("seed", std::to_string(seed));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::vector<std::string> values = std::uniform_int_distribution<int>(0, 1)(rng)
                                                ? std::vector<std::string>{ "one", "two" }
                                                : std::vector<std::string>{ "one", "two", "three" };
    auto value = [&] { return values[std::uniform_int_distribution<size_t>(0, values.size() - 1)(rng)]; };
    const int id = login();
    std::vector<Step> steps;   // in the order the camera gets the requests
    std::vector<Outcome> byTag; // indexed by the request's tag
    size_t sent = 0;

    // Sends steps [sent, end) in rounds of `sizes`, each round's requests at
    // once from threads of their own.
    auto run = [&](const std::vector<int> &sizes) {
        for (size_t j = sent; j < steps.size(); j++) {
            const Step &s = steps[j];
            Reply r = s.fault == Step::Lost ? Reply::silent() : Reply::answer(answerOf(s.value), s.delayMs);
            camera.queueReply(s.fault == Step::Twice ? r.sentTwice() : r);
        }
        byTag.resize(steps.size());
        for (int size : sizes) {
            std::vector<std::thread> threads;
            for (int k = 0; k < size; k++, sent++) {
                threads.emplace_back([&, tag = sent] {
                    char *text = nullptr;
                    const std::string request = "{\"cmd\":\"get_v\",\"tag\":" + std::to_string(tag) + "}";
                    Outcome o;
                    o.code = trovix_request(id, request.c_str(), &text);
                    o.endMs = SimCamera::clockMs();
                    if (o.code == 0)
                        o.value = member(text, { "get_v", "v" });
                    trovix_free(text);
                    byTag[tag] = o;
                });
            }
            for (auto &t : threads)
                t.join();
        }
    };
    // The outcome of each step: the camera's order of the requests is the
    // order of their tags in what it received.
    auto outcomes = [&] {
        std::vector<Outcome> out;
        for (const std::string &text : camera.received()) {
            if (member(text.c_str(), { "cmd" }) == "get_v")
                out.push_back(byTag.at(std::stoul(member(text.c_str(), { "tag" }))));
        }
        return out;
    };
    auto describe = [&](size_t j) {
        return "request " + std::to_string(j) + " (" + faultName(steps[j].fault) + ", " +
               std::to_string(steps[j].delayMs) + " ms, \"" + steps[j].value + "\"" +
               ")";
    };

    // 1. A healthy camera.
    std::vector<int> sizes;
    while (steps.size() < 200) {
        const int size = std::uniform_int_distribution<int>(1, 3)(rng);
        for (int k = 0; k < size; k++)
            steps.push_back(Step{ Step::None, value(), inTimeDelay(rng) });
        sizes.push_back(size);
    }
    run(sizes);
    std::vector<Outcome> got = outcomes();
    ASSERT_EQ(got.size(), steps.size());
    const std::vector<long long> due = camera.answerTimes();
    for (size_t j = 0; j < steps.size(); j++) {
        EXPECT_EQ(got[j].code, 0) << describe(j);
        EXPECT_EQ(got[j].value, steps[j].value) << describe(j);
        EXPECT_LE(got[j].endMs - due[j], 1000) << describe(j);
    }
    const size_t healthy = steps.size();

    // 2. A late answer anywhere in its round (the camera answers in order,
    // so the rest of the round is late too); a lost one last in its round
    // (lost while a later request of its command is answered before its
    // caller gives up, it can't be told from the camera answering it at
    // once); sometimes a second round with one right after; then three to
    // five rounds in time. A doubled answer comes alone, with nothing in
    // doubt. Values are unique here, so that any answer taken for another
    // request shows.
    sizes.clear();
    std::vector<size_t> roundOf;   // of each step
    std::vector<bool> faultRound;  // of each round
    std::vector<bool> faulty;      // of each step: answer late or none
    auto addRound = [&](int size, Step::Fault fault, int at) {
        bool late = false;
        for (int k = 0; k < size; k++) {
            const Step::Fault f = k == at ? fault : Step::None;
            late = late || f == Step::Late;
            steps.push_back(Step{ f, "v" + std::to_string(steps.size()),
                                  f == Step::Late ? std::uniform_int_distribution<int>(6300, 7500)(rng) : inTimeDelay(rng) });
            roundOf.push_back(sizes.size());
            faulty.push_back(late || f == Step::Lost);
        }
        faultRound.push_back(at >= 0 && fault != Step::Twice);
        sizes.push_back(size);
    };
    auto faultyRound = [&] {
        const int size = std::uniform_int_distribution<int>(1, 3)(rng);
        if (std::uniform_int_distribution<int>(0, 1)(rng))
            addRound(size, Step::Late, std::uniform_int_distribution<int>(0, size - 1)(rng));
        else
            addRound(size, Step::Lost, size - 1);
    };
    roundOf.assign(healthy, 0);
    faulty.assign(healthy, false);
    faultRound.assign(sizes.size(), false);
    for (int event = 0; event < 7; event++) {
        faultyRound();
        if (std::uniform_int_distribution<int>(0, 2)(rng) == 0)
            faultyRound();
        for (int calm = std::uniform_int_distribution<int>(3, 5)(rng); calm > 0; calm--)
            addRound(std::uniform_int_distribution<int>(1, 3)(rng), Step::None, -1);
        if (event % 2 == 0)
            addRound(1, Step::Twice, 0);
    }
    run(sizes);
    got = outcomes();
    ASSERT_EQ(got.size(), steps.size());
    const std::vector<long long> answered = camera.answerTimes();
    auto sinceFault = [&](size_t j) { // rounds since the last round with a late or lost answer
        for (size_t r = roundOf[j]; r-- > 0;)
            if (faultRound[r])
                return roundOf[j] - r;
        return size_t(99);
    };
    auto outcome = [&](size_t j) { return std::to_string(got[j].code) + " \"" + got[j].value + "\""; };
    for (size_t j = healthy; j < steps.size(); j++) {
        const std::string what = describe(j) + ", " + std::to_string(sinceFault(j)) + " rounds after a fault: " + outcome(j);
        EXPECT_TRUE(got[j].code == 2 || (got[j].code == 0 && got[j].value == steps[j].value)) << what;
        if (faulty[j]) {
            EXPECT_EQ(got[j].code, 2) << what;
        } else if (sinceFault(j) > 2) {
            EXPECT_EQ(got[j].code, 0) << what;
            EXPECT_LE(got[j].endMs - answered[j], 1000) << what;
        }
    }
    if (HasFailure()) {
        for (size_t j = healthy; j < steps.size(); j++)
            std::cout << "round " << roundOf[j] << ": " << describe(j) << ": " << outcome(j) << "\n";
    }
}

TEST_F(Library, RequestWithoutALoginFailsAtOnce)
{
    char *text = reinterpret_cast<char *>(1);
    EXPECT_EQ(trovix_request(4242, "{\"cmd\":\"get_image\"}", &text), 1);
    EXPECT_EQ(text, nullptr);
}

TEST_F(Library, StatusConnectFollowsLoginAndLogout)
{
    int id = login();
    std::string query = "{\"cmd\":\"status_connect\",\"status_connect\":[\"" + std::to_string(id) + "\",7]}";
    char *text = nullptr;
    ASSERT_EQ(trovix_request(0, query.c_str(), &text), 0);
    EXPECT_EQ(member(text, { "status_connect", std::to_string(id) }), "doing");
    EXPECT_EQ(member(text, { "status_connect", "code" }), "0");
    trovix_free(text);
    EXPECT_EQ(trovix_logout(id), 0);
    ASSERT_EQ(trovix_request(0, query.c_str(), &text), 0);
    EXPECT_EQ(member(text, { "status_connect", std::to_string(id) }), "none");
    trovix_free(text);
    EXPECT_TRUE(SimCamera::waitFor(
        [&] {
            auto c = camera.commands();
            return !c.empty() && c.back() == "logout";
        },
        2000));
}

TEST_F(Library, ManyConcurrentCallersEachGetTheirOwnAnswer)
{
    int id = login();
    std::atomic<int> wrong{ 0 }, done{ 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; i++) {
                std::string tag = std::to_string(t) + "-" + std::to_string(i);
                char *text = nullptr;
                int code = trovix_request(id, ("{\"cmd\":\"get_param\",\"tag\":\"" + tag + "\"}").c_str(), &text);
                if (code != 0 || member(text, { "echo", "tag" }) != tag)
                    wrong++;
                trovix_free(text);
                done++;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(done.load(), 200);
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(Library, DeviceMisbehaviourDropsOnlyThatConnection)
{
    int bad = login();
    SimCamera other;
    uint16_t otherPort = other.start();
    int good = 0;
    ASSERT_EQ(trovix_login(&good, loginText(otherPort).c_str()), 0);
    camera.sendRaw(simcam::nsppHeader(2, 10, 0, 0, 0xBADBAD) + "0123456789");
    EXPECT_TRUE(SimCamera::waitFor([&] { return camera.openConnections() == 0; }, 20000));
    char *text = nullptr;
    EXPECT_EQ(trovix_request(bad, "{\"cmd\":\"get_image\"}", &text), 1);
    EXPECT_EQ(trovix_request(good, "{\"cmd\":\"get_image\"}", &text), 0);
    trovix_free(text);
    other.stop();
}

TEST_F(Library, DeviceClosingMidFrameEndsTheLogin)
{
    int id = login();
    std::string frame = simcam::textFrame("{\"cmd\":\"get_image\",\"long\":\"answer\"}");
    camera.sendRawSplit(frame.substr(0, 20), 5, 10);
    pf_sleep_ms(100);
    camera.closeClients();
    std::string query = "{\"cmd\":\"status_connect\",\"status_connect\":[\"" + std::to_string(id) + "\"]}";
    EXPECT_TRUE(SimCamera::waitFor(
        [&] {
            char *text = nullptr;
            trovix_request(0, query.c_str(), &text);
            bool none = member(text, { "status_connect", std::to_string(id) }) == "none";
            trovix_free(text);
            return none;
        },
        3000));
}

namespace {
struct Seen {
    std::atomic<int> calls{ 0 };
    std::string payload;
    int key1 = -1;
    int conn = -1;
};
int onMedia(void *user, int protocol, int conn, int key1, int key2, int stream, qv_buf_md *md)
{
    auto *seen = static_cast<Seen *>(user);
    if (seen->calls == 0) {
        seen->payload.assign(reinterpret_cast<char *>(md->buf.data + md->buf.start), md->buf.end - md->buf.start);
        seen->key1 = key1;
        seen->conn = conn;
    }
    seen->calls++;
    return 0;
}
} // namespace

TEST_F(Library, MediaCacheIsBoundedAndALoginsRecordsGoAtItsLogout)
{
    int id = login();
    auto cachedOf = [&](int conn, int key1) {
        qv_buf_md *md = nullptr;
        int rc = trovix_md_get(conn, key1, 0, 0, &md);
        trovix_md_buf_sub(md);
        return rc == 0;
    };
    auto cached = [&](int key1) { return cachedOf(id, key1); };
    uint32_t entries = 0;
    uint64_t bytes = 0;
    // Records under ever new keys: the newest ones that fit stay.
    for (int i = 0; i < 300; i++)
        camera.sendMedia("x", uint16_t(i), 0, 1, 5);
    ASSERT_TRUE(SimCamera::waitFor([&] { return cached(299); }, 20000));
    sdk_cache_usage(sdk_current(), &entries, &bytes);
    EXPECT_LE(entries, SDK_CACHE_MAX_ENTRIES);
    EXPECT_FALSE(cached(0));
    const std::string big(1u << 20, 'x');
    for (int i = 300; i < 380; i++)
        camera.sendMedia(big, uint16_t(i), 0, 1, 5);
    ASSERT_TRUE(SimCamera::waitFor([&] { return cached(379); }, 10000));
    sdk_cache_usage(sdk_current(), &entries, &bytes);
    EXPECT_LE(bytes, SDK_CACHE_MAX_BYTES);
    EXPECT_FALSE(cached(300));

    // At logout nothing of the login stays, nor comes in later; a second
    // login's record (the camera sends to both) stays.
    int other = login();
    camera.sendMedia("y", 400, 0, 1, 5);
    ASSERT_TRUE(SimCamera::waitFor([&] { return cached(400) && cachedOf(other, 400); }, 10000));
    EXPECT_EQ(trovix_logout(id), 0);
    sdk_cache_usage(sdk_current(), &entries, &bytes);
    EXPECT_EQ(entries, 1u);
    EXPECT_TRUE(cachedOf(other, 400));
    camera.sendMedia("x", 7, 0, 1, 5);
    ncm_queue_usage q{};
    EXPECT_TRUE(SimCamera::waitFor(
        [&] {
            ncm_queue_stats(sdk_current()->ncm_a, &q);
            return q.media_unwanted > 0;
        },
        3000));
    EXPECT_FALSE(cached(7));
}

TEST_F(Library, MediaReachesListenersAndTheCache)
{
    int id = login();
    Seen seen;
    ASSERT_EQ(trovix_md_add_listener("test", onMedia, &seen), 0);
    EXPECT_EQ(trovix_md_add_listener("test", onMedia, &seen), 1);
    EXPECT_EQ(trovix_md_remove_listener("never added"), 1);

    camera.sendMedia(simcam::tinyJpeg(), 3, 0, 1, 2);
    ASSERT_TRUE(SimCamera::waitFor([&] { return seen.calls >= 1; }, 20000));
    EXPECT_EQ(seen.payload, simcam::tinyJpeg());
    EXPECT_EQ(seen.key1, 3);
    EXPECT_EQ(seen.conn, id);
    qv_buf_md *md = nullptr;
    EXPECT_EQ(trovix_md_get(id, 3, 0, 0, &md), 5); // type 2 is not cached

    camera.sendMedia(simcam::tinyJpeg(), 1, 2, 1, 65);
    ASSERT_TRUE(SimCamera::waitFor([&] { return seen.calls >= 2; }, 20000));
    ASSERT_TRUE(SimCamera::waitFor([&] { return trovix_md_get(id, 1, 2, 0, &md) == 0; }, 20000));
    ASSERT_NE(md, nullptr);
    EXPECT_EQ(md->head.media_type, 65);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(md->buf.data + md->buf.start), md->buf.end - md->buf.start),
              simcam::tinyJpeg());
    EXPECT_EQ(trovix_md_buf_add(md), 3); // the cache's, ours, and this one
    EXPECT_EQ(trovix_md_buf_sub(md), 2);
    EXPECT_EQ(trovix_md_clear(id, 1, 2, 0), 0);
    EXPECT_EQ(trovix_md_clear(id, 1, 2, 0), 5);
    qv_buf_md *none = nullptr;
    EXPECT_EQ(trovix_md_get(id, 1, 2, 0, &none), 5);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(trovix_md_buf_sub(md), 0); // only ours was left
    EXPECT_EQ(trovix_md_remove_listener("test"), 0);
}

TEST_F(Library, QuitClosesDeviceConnectionsFirst)
{
    login();
    login();
    EXPECT_EQ(camera.openConnections(), 2);
    EXPECT_EQ(trovix_quit(), 0);
    EXPECT_TRUE(SimCamera::waitFor([&] { return camera.openConnections() == 0; }, 20000));
}

TEST_F(Library, HeartbeatsFlowBothWays)
{
    camera.setHeartbeatMs(100);
    int id = login();
    pf_sleep_ms(400);
    char *text = nullptr;
    EXPECT_EQ(trovix_request(id, "{\"cmd\":\"get_image\"}", &text), 0);
    trovix_free(text);
}

TEST_F(Library, LuaModuleWrapsTheExports)
{
    trovix_quit(); // the module starts the library itself
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    luaL_requiref(L, "trovix", luaopen_trovix, 1);
    lua_pop(L, 1);
    std::string script = "local t = trovix assert(t.init() == 0) "
                         "local code, id = t.login('" + loginText(port) + "') assert(code == 0 and id == 1000) "
                         "local c, text = t.request(id, '{\"cmd\":\"get_image\",\"tag\":\"lua\"}') "
                         "assert(c == 0 and text:find('lua')) "
                         "assert(t.logout(id) == 0) "
                         "assert(t.discover_get_devs() == '{}') "
                         "assert(not pcall(t.discover_run, 1)) "
                         "assert(t.save(id, 0, 0, 0, '/nonexistent/x') == false) "
                         "local fam, addr = t.gethostbyname('127.0.0.1') assert(fam == 'ipv4' and addr == '127.0.0.1') "
                         "t.quit() local c2, text2 = t.request(1, '{}') assert(c2 == 1 and text2 == '{}') return true";
    if (luaL_dostring(L, script.c_str()) != LUA_OK)
        ADD_FAILURE() << lua_tostring(L, -1);
    lua_close(L);
}

// The command thread's handling of commands and connection records, driven
// through a stand-in entry script that logs what it is handed.
TEST(CommandThread, CallbacksResultsAndConnectionRecords)
{
    g_override = { { "sdk.loader", R"(
        local ncm = require('qv_ncm')
        log = {}
        function setup() return 0 end
        function quit() return 0 end
        function init()
            ncm.set_sdk(function() return 1 end, function() return 0 end, function(seq, id, text)
                if text == 'dump' then ncm.response_sdk(seq, id, 0, table.concat(log, ',')) return 0 end
                if text == 'managers' then
                    local ok = ncm.get_ncm('Upgrade') ~= nil and ncm.get_ncm('other') == nil
                    ncm.response_sdk(seq, id, ok and 0 or 9, '') return 0
                end
                if text == 'fail' then return 7 end
                if text == 'boom' then error('boom') end
                if text == 'notint' then return 'x' end
                ncm.response_sdk(seq, id, 4098, 'device says no') return 0
            end)
            ncm.set_recv(function(id, proto, body)
                log[#log + 1] = 'recv:' .. id .. ':' .. proto .. ':' .. body
                if body == 'bye' then return 5 end
                return 0
            end)
            ncm.set_disconnect(function(id, code) log[#log + 1] = 'disc:' .. id .. ':' .. code return 0 end)
            return 0
        end
        return {})" } };
    ASSERT_EQ(sdk_start(overrideLookup), 0);
    sdk_ctx *ctx = sdk_current();
    auto text = [](const char *t) {
        qv_buf *b = qv_buf_new(static_cast<uint32_t>(strlen(t)) + 1);
        memcpy(b->data, t, strlen(t) + 1);
        b->end = static_cast<uint32_t>(strlen(t));
        return b;
    };
    auto request = [](const char *t, char **out = nullptr) { return trovix_request(1, t, out); };
    testing::internal::CaptureStderr();
    EXPECT_EQ(request("fail"), 1);
    EXPECT_EQ(request("boom"), 1);
    EXPECT_EQ(request("notint"), 1);
    EXPECT_EQ(request("managers"), 0);
    char *reply = nullptr;
    EXPECT_EQ(request("other", &reply), 4098); // a script's code passes through with its text
    EXPECT_STREQ(reply, "device says no");
    trovix_free(reply);
    int id = 9;
    EXPECT_EQ(trovix_login(&id, "{}"), 1);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(trovix_discover_open(nullptr), 1); // no discovery callbacks registered

    ncm_post_event(ctx->ncm_a, 20, 5000, NCM_EV_CONNECT);
    ncm_post_text(ctx->ncm_a, 20, 5000, text("hello"));
    ncm_post_text(ctx->ncm_a, 20, 5000, text(""));            // empty: nothing is called
    ncm_post_text(ctx->ncm_a, 20, 6000, text("stranger"));    // unregistered id
    ncm_post_event(ctx->ncm_a, 20, 5000, NCM_EV_CONNECT);     // a second connect ends it
    ncm_post_event(ctx->ncm_a, 20, 5001, NCM_EV_CONNECT);
    ncm_post_text(ctx->ncm_a, 20, 5001, text("bye"));         // recv answers 5
    ncm_post_event(ctx->ncm_a, 20, 5002, NCM_EV_CONNECT);
    ncm_post_event(ctx->ncm_a, 20, 5002, NCM_EV_IDLE);
    // Commands and records take turns on the thread: ask until all are in.
    const std::string expected = "recv:5000:20:hello,disc:6000:1,disc:5000:1,recv:5001:20:bye,disc:5001:5,disc:5002:1";
    std::string log;
    SimCamera::waitFor(
        [&] {
            EXPECT_EQ(request("dump", &reply), 0);
            log = reply ? reply : "";
            trovix_free(reply);
            return log == expected;
        },
        2000);
    EXPECT_EQ(log, expected);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("boom"), std::string::npos);
    EXPECT_EQ(trovix_quit(), 0);
}

// The upgrade manager is the library's: a script that frees its handle loses
// the handle, and the library still ends the manager once at quit.
TEST(CommandThread, ScriptsCannotFreeTheLibrarysUpgradeManager)
{
    g_override = { { "sdk.loader", R"(
        local ncm = require('qv_ncm')
        local sys = require('qv_sys')
        local net = require('qv_ncm_x')
        function setup() return 0 end
        function quit() return 0 end
        function init()
            ncm.set_sdk(function() return 1 end, function() return 0 end, function(seq, id, text)
                local up = ncm.get_ncm('upgrade')
                sys.free(up)
                local stale = pcall(net.recv, up)          -- the dropped handle is refused
                local again = net.recv(ncm.get_ncm('upgrade')) -- a new handle works
                ncm.response_sdk(seq, id, (not stale and again == false) and 0 or 9, '')
                return 0
            end)
            return 0
        end
        return {})" } };
    ASSERT_EQ(sdk_start(overrideLookup), 0);
    EXPECT_EQ(trovix_request(1, "free", nullptr), 0);
    EXPECT_EQ(trovix_quit(), 0);
}

// A connection manager that the scripts make on their own socket driver ends
// with the Lua state at quit: the next start makes one under the same name.
TEST(CommandThread, ScriptManagersEndWithTheLibrary)
{
    g_override = { { "sdk.loader", R"(
        local net, skdr, ncm_x = require('qv_net_x'), require('qv_skdr_x'), require('qv_ncm_x')
        function setup() return 0 end
        function quit() return 0 end
        function init()
            net.init()
            local m = ncm_x.create('script manager', skdr.create('script driver'))
            if m == nil then return 1 end
            net.start()
            ncm_x.connect(m, 7, 20, 0, '127.0.0.1', 9)
            return 0
        end
        return {})" } };
    for (int round = 0; round < 3; round++) {
        ASSERT_EQ(sdk_start(overrideLookup), 0) << round;
        EXPECT_EQ(trovix_quit(), 0);
    }
}

// A quit while callers still wait on answers or on the stream thread: they
// return 1 at once and nothing they hold is freed under them.
TEST_F(Library, QuitWhileCallersWaitEndsTheirWaits)
{
    int id = login();
    for (int i = 0; i < 4; i++)
        camera.queueReply(Reply::silent());
    std::atomic<int> finished{0};
    std::vector<std::thread> callers;
    const uint64_t asked = pf_clock_ms();
    for (int i = 0; i < 4; i++) {
        callers.emplace_back([&] {
            char *text = reinterpret_cast<char *>(1);
            EXPECT_EQ(trovix_request(id, "{\"cmd\":\"get_never\"}", &text), 1);
            EXPECT_EQ(text, nullptr);
            finished++;
        });
    }
    callers.emplace_back([&] {
        for (int i = 0; i < 200; i++) {
            std::string key = "k" + std::to_string(i);
            trovix_md_add_listener(key.c_str(), [](void *, int, int, int, int, int, qv_buf_md *) { return 0; },
                                   nullptr);
        }
        finished++;
    });
    pf_sleep_ms(200);
    EXPECT_EQ(trovix_quit(), 0);
    EXPECT_LT(pf_clock_ms() - asked, uint64_t(TROVIX_REPLY_TIMEOUT_MS)); // before any request could time out
    for (auto &t : callers)
        t.join();
    EXPECT_EQ(finished.load(), 5);
    char *text = nullptr;
    EXPECT_EQ(trovix_request(id, "{}", &text), 1); // stopped now
}
