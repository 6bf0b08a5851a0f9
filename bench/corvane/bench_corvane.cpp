// corvane: messages per second from one worker to another beside a plain
// mutex + condition-variable queue in C whose consumer, like a worker, takes
// every job queued in one hold of the lock (target: at least 0.8x of it), and
// cache get/set per second from 1 and 8 workers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "corvane.h"
#include "plain_queue.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMessages = 200000;
constexpr int kCacheOpsPerWorker = 200000;
const char kS1[] = "frame";
const char kS2[] = "{\"chnn\":0,\"idx\":1}";
const char kS3[] = "0123456789abcdef";

const std::map<std::string, std::string> kScripts = {
    // Posts n messages to the sink, then "stop".
    { "bench.source",
      "local corvane = require 'corvane'\n"
      "function on_cmd(a, b, c)\n"
      "  local post, n = corvane.post, tonumber(b)\n"
      "  for _ = 1, n do post('sink', '" + std::string(kS1) + "', '" + kS2 + "', '" + kS3 + "') end\n"
      "  post('sink', 'stop', b, '')\n"
      "end\n"
      "return {}\n" },
    // Counts messages; at "stop" publishes the count.
    { "bench.sink",
      "local mc = require 'qv_mcache'\n"
      "local n = 0\n"
      "function on_cmd(a, b)\n"
      "  if a == 'stop' then mc.set('sink.count', n) n = 0 else n = n + 1 end\n"
      "end\n"
      "return {}\n" },
    // k rounds of one set and one get on keys shared by all workers.
    { "bench.cache",
      "local mc = require 'qv_mcache'\n"
      "local id\n"
      "function setup(arg) id = arg end\n"
      "function on_cmd(a, b)\n"
      "  local set, get = mc.set, mc.get\n"
      "  local keys = {}\n"
      "  for i = 0, 255 do keys[i] = 'key' .. i end\n"
      "  for i = 1, tonumber(b) do\n"
      "    local k = keys[i & 255]\n"
      "    set(k, i)\n"
      "    get(k)\n"
      "  end\n"
      "  mc.set(id .. '.done', true)\n"
      "end\n"
      "return {}\n" },
};

int lookup(const char *name, const char **text, size_t *len)
{
    auto it = kScripts.find(name);
    if (it == kScripts.end())
        return 0;
    *text = it->second.data();
    *len = it->second.size();
    return 1;
}

// The controlling Lua state of a host program that links corvane in.
class Host {
public:
    Host()
    {
        L = luaL_newstate();
        luaL_openlibs(L);
        pre_loadlib_corvane(L);
        lua_pushlightuserdata(L, corvane_loader(lookup));
        lua_setglobal(L, "LOADER");
        run("corvane = require 'corvane' mc = require 'qv_mcache' corvane.init()");
    }
    ~Host()
    {
        run("corvane.quit()");
        lua_close(L);
    }
    void run(const std::string &code)
    {
        if (luaL_dostring(L, code.c_str()) != LUA_OK) {
            std::string err = lua_tostring(L, -1);
            lua_pop(L, 1);
            throw std::runtime_error(err);
        }
    }
    bool check(const std::string &expr)
    {
        run("RESULT = (" + expr + ") and true or false");
        lua_getglobal(L, "RESULT");
        bool v = lua_toboolean(L, -1);
        lua_pop(L, 1);
        return v;
    }
    // Polls expr every 50 us; false after 60 s.
    bool waitFor(const std::string &expr)
    {
        auto deadline = Clock::now() + std::chrono::seconds(60);
        while (!check(expr)) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        return true;
    }

private:
    lua_State *L;
};

void BM_PlainQueueMessages(benchmark::State &state)
{
    for (auto _ : state) {
        double s = plain_queue_run(kMessages, kS1, kS2, kS3);
        state.SetIterationTime(s);
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_PlainQueueMessages)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_WorkerMessages(benchmark::State &state)
{
    Host host;
    host.run("corvane.create('sink', 1, 'bench.sink', '', LOADER) corvane.create('source', 1, 'bench.source', '', LOADER)");
    double total = 0, plain = 0;
    std::vector<double> ratios;
    for (auto _ : state) {
        // The anchor runs right before, so both see the same machine load.
        state.PauseTiming();
        const double anchor = plain_queue_run(kMessages, kS1, kS2, kS3);
        plain += anchor;
        state.ResumeTiming();
        host.run("mc.set('sink.count', nil)");
        auto t0 = Clock::now();
        host.run("corvane.post('source', 'go', '" + std::to_string(kMessages) + "', '')");
        if (!host.waitFor("mc.get('sink.count') == " + std::to_string(kMessages))) {
            state.SkipWithError("the sink did not get every message");
            break;
        }
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        total += s;
        ratios.push_back(anchor / s);
        state.SetIterationTime(s);
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
    if (total > 0) {
        state.counters["plain_queue_per_second"] = double(state.iterations()) * kMessages / plain;
        // The median of the pairs: one disturbed pair does not decide it.
        std::sort(ratios.begin(), ratios.end());
        state.counters["vs_plain_queue"] = ratios[ratios.size() / 2];
    }
}
BENCHMARK(BM_WorkerMessages)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_CacheGetSet(benchmark::State &state)
{
    const int workers = static_cast<int>(state.range(0));
    Host host;
    for (int i = 1; i <= workers; i++)
        host.run("corvane.create('c" + std::to_string(i) + "', 1, 'bench.cache', 'c" + std::to_string(i) + "', LOADER)");
    std::string allDone = "true";
    for (int i = 1; i <= workers; i++)
        allDone += " and mc.get('c" + std::to_string(i) + ".done')";
    for (auto _ : state) {
        host.run("for i = 1, " + std::to_string(workers) + " do mc.set('c' .. i .. '.done', nil) end");
        auto t0 = Clock::now();
        host.run("for i = 1, " + std::to_string(workers) + " do corvane.post('c' .. i, 'run', '" +
                 std::to_string(kCacheOpsPerWorker) + "', '') end");
        if (!host.waitFor(allDone)) {
            state.SkipWithError("a worker did not finish");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    // One set and one get per round.
    state.SetItemsProcessed(state.iterations() * workers * kCacheOpsPerWorker * 2);
}
BENCHMARK(BM_CacheGetSet)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
