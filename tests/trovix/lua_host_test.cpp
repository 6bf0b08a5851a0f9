// The Lua host: embedded-script loading and error reporting, timers, and the
// native modules that scripts use.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>

#include "clua.h"
#include "sdk.h"
#include "test_util.h"

namespace {

std::map<std::string, std::string> g_scripts;

int lookup(const char *name, const char **text, size_t *len)
{
    auto it = g_scripts.find(name);
    if (it == g_scripts.end())
        return 0;
    *text = it->second.data();
    *len = it->second.size();
    return 1;
}

class LuaHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_scripts = {
            { "demo.mod", "local M = {} function M.twice(x) return 2 * x end return M" },
            { "demo.broken", "return function(" },
            { "demo.loader", "function setup() return 0 end function init() return 0 end "
                             "function quit() return 0 end G = {} return {}" },
        };
        env = clua_env_create(lookup, nullptr);
        ASSERT_NE(env, nullptr);
        clua_env_add_registrar(env, sdk_register_net);
        ASSERT_EQ(clua_env_setup(env), 0);
        L = env->L;
    }
    void TearDown() override { clua_env_close(env); }

    // Runs a chunk and returns its first result as text ("error: ..." on failure).
    std::string run(const std::string &code) { return trovixtest::luaRun(L, code); }

    clua_env *env = nullptr;
    lua_State *L = nullptr;
};

} // namespace

TEST_F(LuaHost, RequireFindsEmbeddedScriptsThroughBothSearcherNames)
{
    EXPECT_EQ(run("return package.loaders == package.searchers"), "true");
    EXPECT_EQ(run("return require('demo.mod').twice(21)"), "42");
    EXPECT_EQ(run("return type(dofile('demo.mod'))"), "function");
    EXPECT_EQ(run("return require('cjson').encode({a=1})"), "{\"a\":1}");
}

TEST_F(LuaHost, MissingModulesFallThroughToTheOtherSearchers)
{
    std::string r = run("return require('no.such.module')");
    EXPECT_NE(r.find("module 'no.such.module' not found"), std::string::npos) << r;
    EXPECT_EQ(run("return type(dofile('no.such.module'))"), "boolean");
}

TEST_F(LuaHost, CompileErrorsAreReportedWithTheModuleName)
{
    std::string r = run("return require('demo.broken')");
    EXPECT_NE(r.find("demo.broken"), std::string::npos) << r;
    testing::internal::CaptureStderr();
    EXPECT_NE(clua_env_load(env, "demo.broken"), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("lua_helper: ", 0), 0u) << err;
    EXPECT_NE(err.find("stack traceback"), std::string::npos);
    EXPECT_FALSE(env->loaded);
}

TEST_F(LuaHost, LoadTakesTheScriptGlobals)
{
    ASSERT_EQ(clua_env_load(env, "demo.loader"), 0);
    EXPECT_TRUE(env->loaded);
    EXPECT_NE(env->ref_init, 0);
    EXPECT_NE(env->ref_G, 0);
    EXPECT_EQ(env->ref_on_cmd, 0);
    int result = -1;
    EXPECT_EQ(clua_env_call(env, env->ref_init, "", &result), 0);
    EXPECT_EQ(result, 0);
}

TEST_F(LuaHost, TimersFireRemoveAndAddWhileWalked)
{
    clua_env_timer_tick(env, 1000, 1);
    ASSERT_EQ(run(R"(
        sys = require('qv_sys')
        log = {}
        sys.add_timer(1, 0, function(id, n) log[#log + 1] = 'every' .. n return 0 end)
        sys.add_timer(2, 0, function() log[#log + 1] = 'once' return 1 end)
        sys.add_timer(3, 0, function()
            log[#log + 1] = 'juggle'
            sys.remove_timer(4)           -- later in this walk
            sys.remove_timer(3)           -- itself
            sys.add_timer(5, 100, function() log[#log + 1] = 'late' return 0 end)
            return 0
        end)
        sys.add_timer(4, 0, function() log[#log + 1] = 'never' return 0 end)
        sys.add_timer(6, 0, function() error('boom') end)
        return sys.add_timer(1, 5, function() end))"),
              "false");
    testing::internal::CaptureStderr();
    clua_env_timer_tick(env, 1001, 0);
    clua_env_timer_tick(env, 1002, 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("boom"), std::string::npos);
    EXPECT_EQ(run("return table.concat(log, ',')"), "every1,once,juggle,every2");
    EXPECT_EQ(clua_timer_count(env), 2u); // 1 and 5
    clua_env_timer_tick(env, 1102, 0);
    EXPECT_EQ(run("return log[#log]"), "late");
    EXPECT_EQ(run("return sys.modify_timer(5, 50)"), "true");
    EXPECT_EQ(run("return sys.modify_timer(77, 50)"), "false");
    EXPECT_EQ(run("return sys.remove_timer(5)"), "true");
    EXPECT_EQ(run("return sys.remove_timer(5)"), "false");
}

TEST_F(LuaHost, SysModuleEdgeCases)
{
    EXPECT_EQ(run("return require('qv_sys').type_size('UINT16')"), "2");
    EXPECT_EQ(run("return require('qv_sys').type_size('int16')"), "0");
    EXPECT_EQ(run("local s = require('qv_sys') for i = 1, 50 do if s.rand(1) ~= 1 then return false end end return true"),
              "true");
    EXPECT_EQ(run("local r = require('qv_sys').rand(0) return r >= 1 and r <= 2147483647"), "true");
    EXPECT_EQ(run("return #require('qv_sys').rand_char(300)"), "8");
    EXPECT_EQ(run("return require('qv_sys').rand_char(5):match('^[A-Za-z0-9]+$') ~= nil"), "true");
    EXPECT_EQ(run("local n = require('qv_sys').rand_num(6) return #n == 6 and n:sub(1,1) ~= '0'"), "true");
    EXPECT_EQ(run("local c, o = require('qv_sys').sh('echo hi') return c .. '|' .. o"), "0|hi\n");
    EXPECT_EQ(run("local c, o = require('qv_sys').sh('') return c .. '|' .. o"), "-1|");
    EXPECT_EQ(run("return require('qv_sys').version"), "release");
}

TEST_F(LuaHost, HashModule)
{
    EXPECT_EQ(run("return require('qv_hash').dx('')"), "625474650");
    EXPECT_EQ(run("return require('qv_hash').dx('abc')"), "1974458770");
    EXPECT_EQ(run("return require('qv_hash').js('')"), "1315423911");
    EXPECT_EQ(run("return require('qv_hash').rs('')"), "0");
    EXPECT_EQ(run("return require('qv_hash').ap('')"), "2863311530");
}

TEST_F(LuaHost, FileModuleAndStaleObjects)
{
    char path[] = "/tmp/trovix_file_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string p = path;
    EXPECT_EQ(run("f = require('qv_file') h = f.open('" + p + "', 'wb') src = f.open('" + p + "', 'rb') return h ~= nil"),
              "true");
    // A buffer object read from one file is written into another.
    EXPECT_EQ(run("local w = f.open('" + p + ".src', 'wb') w2 = w return true"), "true");
    EXPECT_EQ(run("local x = io.open('" + p + ".src', 'wb') x:write('0123456789') x:close() "
                  "local r = f.open('" + p + ".src', 'rb') local b, n = f.read(r, 4) "
                  "local ok, wrote = f.write(h, b) f.flush(h) "
                  "local pos = f.tell(r) local again = f.seek(r, 0, 'SEEK_END') "
                  "local e, en = f.read(r) f.close(r) f.close(w2) "
                  "return n .. ',' .. tostring(ok) .. ',' .. wrote .. ',' .. pos .. ',' .. tostring(e) .. ',' .. en"),
              "4,true,4,4,nil,0");
    EXPECT_EQ(run("f.close(h) local b = f.read(src) local s = b ~= nil require('qv_sys').free(b) return s"), "true");
    // The closed file is no longer an object a script may use.
    std::string r = run("return f.tell(h)");
    EXPECT_NE(r.find("qv_file.check(0x"), std::string::npos) << r;
    EXPECT_NE(r.find("must \"qv_file\""), std::string::npos) << r;
    r = run("return require('qv_sys').free(h)");
    EXPECT_NE(r.find("qv_sys.free(0x"), std::string::npos) << r;
    r = run("return f.write(src, {})");
    EXPECT_NE(r.find("must \"qv_buf\""), std::string::npos) << r;
    run("f.close(src)");
    unlink(path);
    unlink((p + ".src").c_str());
}

TEST_F(LuaHost, SnapshotListsReachableObjects)
{
    std::string r = run(R"(
        keep = { inner = {} }
        local snap = require('qv_snapshot').snapshot()
        local found = 0
        for k, v in pairs(snap) do
            if v:find('inner') then found = found + 1 end
        end
        return found >= 1)");
    EXPECT_EQ(r, "true");
}

TEST_F(LuaHost, SocketDriverAndManagerHandles)
{
    EXPECT_EQ(run(R"(
        local net, skdr, ncm_x = require('qv_net_x'), require('qv_skdr_x'), require('qv_ncm_x')
        net.init()
        local d = skdr.create('drv')
        if skdr.create('drv') ~= nil or skdr.get('drv') ~= d then return 'name' end
        local m = ncm_x.create('mgr', d)
        if ncm_x.create('mgr', d) ~= nil or ncm_x.get('mgr') ~= m then return 'mgr name' end
        local ok, code, body, id, main, sub = ncm_x.recv(m)
        if ok ~= false or code ~= 0 or body ~= '' or id ~= 0 or main ~= 0 or sub ~= 0 then return 'recv' end
        if ncm_x.send(m, 5, '') ~= false then return 'send' end
        local md, mid = ncm_x.recv_md(m)
        if md ~= nil or mid ~= 0 then return 'recv_md' end
        net.start()
        require('qv_sys').free(m)
        if ncm_x.get('mgr') ~= nil then return 'freed mgr still named' end
        net.stop()
        net.quit()
        return 'ok')"),
              "ok");
    std::string r = run("return require('qv_ncm_x').connect({}, 1, 20, 0, '127.0.0.1', 1)");
    EXPECT_NE(r.find("qv_net_x.check(0x"), std::string::npos) << r;
    EXPECT_NE(r.find("must \"qv_ncm_x\""), std::string::npos) << r;
}

// A script's connection manager sits on a socket driver its state owns: the
// driver going first (freed, or qv_net_x.quit) ends the manager with it, so
// the old handle is refused and the name is free again.
TEST_F(LuaHost, ManagersEndWithTheirSocketDriverWhateverTheOrder)
{
    EXPECT_EQ(run(R"(
        local net, skdr, ncm_x, sys = require('qv_net_x'), require('qv_skdr_x'), require('qv_ncm_x'), require('qv_sys')
        net.init()
        local d = skdr.create('drv')
        local m = ncm_x.create('mgr', d)
        net.start()
        if not ncm_x.connect(m, 7, 20, 0, '127.0.0.1', 9) then return 'connect' end
        sys.free(d)
        if ncm_x.get('mgr') ~= nil then return 'manager outlived its driver' end
        if pcall(ncm_x.recv, m) then return 'stale manager used' end
        if pcall(sys.free, m) then return 'stale manager freed' end
        local d2 = skdr.create('drv2')
        local m2 = ncm_x.create('mgr', d2)
        if m2 == nil then return 'name kept' end
        local m3 = ncm_x.create('other', d2)
        sys.free(m3) -- a manager freed on its own leaves its driver alone
        if skdr.get('drv2') ~= d2 or ncm_x.get('mgr') ~= m2 then return 'driver lost' end
        net.start()
        net.quit()
        if ncm_x.get('mgr') ~= nil then return 'manager outlived quit' end
        if pcall(ncm_x.send, m2, 7, 'x') then return 'stale manager after quit' end
        return 'ok')"),
              "ok");
}

// Closing the state ends its managers before their drivers, and a new state
// (a restart of the library) can make one under the same name.
TEST_F(LuaHost, ManagersDoNotOutliveTheirState)
{
    const char *make = R"(
        local net, skdr, ncm_x = require('qv_net_x'), require('qv_skdr_x'), require('qv_ncm_x')
        net.init()
        local m = ncm_x.create('kept', skdr.create('drv'))
        if m == nil then return 'name taken' end
        net.start()
        ncm_x.connect(m, 7, 20, 0, '127.0.0.1', 9)
        return 'ok')";
    for (int round = 0; round < 3; round++) {
        EXPECT_EQ(run(make), "ok") << round;
        clua_env_close(env);
        env = clua_env_create(lookup, nullptr);
        ASSERT_NE(env, nullptr);
        clua_env_add_registrar(env, sdk_register_net);
        ASSERT_EQ(clua_env_setup(env), 0);
        L = env->L;
    }
}
