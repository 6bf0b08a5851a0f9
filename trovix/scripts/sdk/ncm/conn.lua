-- Connection records of logins: status, session keys and the requests that
-- wait for a device answer.
local b_list = require("base.b_list")
local qv_sys = require("qv_sys")
local qv_ncm = require("qv_ncm")

local M = {}

M.CONN_NIL = 0
M.CONN_LOGIN = 1
M.CONN_AUTH = 2
M.CONN_DISCONNECT = 3
M.CONN_LOGOUT = 4

-- Results the library gives callers: the command failed (also: its
-- connection was lost), and a device refusal whose code can't be passed on.
M.FAILED = 1
M.DEVICE_CODE = 6

local DEFAULT_KEY = "730418"
local CLEANUP_TIMER = 100
local CLEANUP_MS = 10000

M.conn_list = {}

local function rec(id)
    return M.conn_list[tostring(id)]
end

function M.get(id)
    return rec(id)
end

function M.push(id, protocol)
    local key = tostring(id)
    if M.conn_list[key] then return false end
    M.conn_list[key] = {
        id = id,
        status = M.CONN_LOGIN,
        protocol = protocol,
        qqssid = DEFAULT_KEY,
        qqauth = DEFAULT_KEY,
        seq_list = b_list.create(),
    }
    return true
end

-- A wait remembers the command it was sent for and when, so an answer can
-- find its own request and waits that nobody can claim any more go away.
function M.push_seq(id, seq, cmd)
    local r = rec(id)
    if not r then return false end
    b_list.push_back(r.seq_list, { seq = seq, cmd = cmd, t = qv_sys.tc() })
    return true
end

function M.pop_seq(id)
    local r = rec(id)
    if not r then return false, 0 end
    local w = b_list.pop_front(r.seq_list)
    return true, w and w.seq
end

local function age(now, t)
    return (now - t) & 0xFFFFFFFF
end

-- Drops waits older than max_age ms, then takes the oldest wait whose
-- command matches cmd (an answer without "cmd" takes the oldest wait; a wait
-- for a request without "cmd" matches any answer). Returns nil when no
-- request waits for this answer.
function M.take_seq(id, cmd, max_age)
    local r = rec(id)
    if not r then return nil end
    local now = qv_sys.tc()
    local it = b_list.begin(r.seq_list)
    while it do
        local nxt = b_list.iter_add(it)
        if age(now, b_list.iter_value(it).t) > max_age then
            b_list.remove(r.seq_list, it)
        end
        it = nxt
    end
    it = b_list.begin(r.seq_list)
    while it do
        local w = b_list.iter_value(it)
        if cmd == nil or w.cmd == nil or w.cmd == cmd then
            b_list.remove(r.seq_list, it)
            return w.seq, w.cmd
        end
        it = b_list.iter_add(it)
    end
    return nil
end

-- Takes every wait of the connection; returns the sequence numbers of those
-- whose callers may still wait (younger than max_age ms, not a logout).
function M.take_waits(id, max_age)
    local r = rec(id)
    local out = {}
    if not r then return out end
    local now = qv_sys.tc()
    while true do
        local w = b_list.pop_front(r.seq_list)
        if not w then break end
        if w.cmd ~= "logout" and age(now, w.t) <= max_age then out[#out + 1] = w.seq end
    end
    return out
end

function M.auth(id, qqssid, qqauth)
    local r = rec(id)
    if not r then return false end
    r.qqssid = qqssid
    r.qqauth = qqauth
    -- A login that was given up on stays logged out.
    if r.status ~= M.CONN_LOGOUT then r.status = M.CONN_AUTH end
    return true
end

-- A stream login (RTSP, HTTP) is set up: it is authorised with the default
-- keys and the login answered as a device's login answer would be.
function M.stream_login_ok(seq, id)
    M.auth(id, DEFAULT_KEY, DEFAULT_KEY)
    local cjson = require("cjson")
    qv_ncm.response_sdk(seq, id, 0, cjson.encode({
        cmd = "login", login = { code = 0, qqssid = DEFAULT_KEY, qqauth = DEFAULT_KEY } }))
end

function M.set_status(id, status)
    local r = rec(id)
    if not r or r.status == M.CONN_LOGOUT then return end
    r.status = status
end

function M.status(seq, req)
    local answer = { code = 0 }
    local list = type(req) == "table" and req.status_connect
    if type(list) == "table" then
        for _, v in pairs(list) do
            if type(v) == "string" then
                local r = M.conn_list[v]
                local live = r and (r.status == M.CONN_LOGIN or r.status == M.CONN_AUTH)
                answer[v] = live and "doing" or "none"
            end
        end
    end
    local cjson = require("cjson")
    qv_ncm.response_sdk(seq, 0, 0, cjson.encode({ cmd = "status_connect", status_connect = answer }))
    return 0
end

local function cleanup()
    for key, r in pairs(M.conn_list) do
        if r.status ~= M.CONN_LOGIN and r.status ~= M.CONN_AUTH then
            qv_ncm.close(r.id)
            M.conn_list[key] = nil
        end
    end
    return 0
end

function M.init()
    qv_sys.add_timer(CLEANUP_TIMER, CLEANUP_MS, cleanup)
end

function M.quit()
    qv_sys.remove_timer(CLEANUP_TIMER)
end

return M
