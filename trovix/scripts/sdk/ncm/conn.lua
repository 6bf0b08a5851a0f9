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
        sent = 0,     -- requests sent, in order
        answered = 0, -- place of the latest request known answered
        owed = {},    -- given-up requests whose answers may still come, in order
        taken = {},   -- command -> answers taken lately, for telling repeats
        held = {},    -- command -> an answer that may be a repeat
    }
    return true
end

-- A wait remembers the command it was sent for, when, and its place among
-- the connection's requests, so an answer can find its own request, and a
-- wait whose caller has given up still takes the answer owed to it.
function M.push_seq(id, seq, cmd)
    local r = rec(id)
    if not r then return false end
    r.sent = r.sent + 1
    b_list.push_back(r.seq_list, { seq = seq, cmd = cmd, t = qv_sys.tc(), order = r.sent })
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

-- The framed protocol carries no request id. A device answers requests in
-- the order it got them, so an answer belongs to the oldest waiting request
-- of its command (an answer without "cmd" to the oldest wait; a request
-- without "cmd" waits for any answer). What can still be told:
-- * the answer owed to a request whose caller has given up: the next answer
--   of that command is taken for it and dropped. One that never comes costs
--   the next request of the command its answer (that caller times out rather
--   than get another's), until the device answers a later request of any
--   command: then no earlier answer can come any more.
-- * a repeat: the same bytes as an answer of the command taken in the last
--   REPEAT_MS, other than the latest one. A device may also come to say the
--   same again, so such an answer is held (repeat_hold) until the waiting
--   request has waited twice as long as the command's slowest recent answer
--   took, plus HOLD_MARGIN_MS: another answer of the command within that
--   time shows it a repeat, and it is dropped. A repeat of the latest answer
--   looks exactly like the next request's own answer when the device has
--   the same to say, and is taken as that.
local OWED_MAX = 16
local REPEAT_MS = 2000
local REPEATS_KEPT = 8
local HOLD_MARGIN_MS = 50

local function matches(waited, cmd)
    return cmd == nil or waited == nil or waited == cmd
end

local function is_repeat(kept, body, now)
    if not kept then return false end
    while kept[1] and age(now, kept[1].t) > REPEAT_MS do table.remove(kept, 1) end
    if #kept == 0 or kept[#kept].text == body then return false end
    for i = 1, #kept - 1 do
        if kept[i].text == body then return true end
    end
    return false
end

-- An answer was taken for the request at place order, took_ms after it was
-- sent (nil: for a request whose caller had given up).
local function took(r, order, cmd, body, now, took_ms)
    local key = cmd or ""
    local kept = r.taken[key] or {}
    r.taken[key] = kept
    if kept[#kept] and kept[#kept].text == body then table.remove(kept) end
    kept[#kept + 1] = { text = body, t = now, took_ms = took_ms }
    if #kept > REPEATS_KEPT then table.remove(kept, 1) end
    if order > r.answered then r.answered = order end
    while r.owed[1] and r.owed[1].order < r.answered do table.remove(r.owed, 1) end
end

-- Waits older than max_age ms have lost their callers: those whose answers
-- may still come are owed them.
local function give_up(r, now, max_age)
    local it = b_list.begin(r.seq_list)
    while it do
        local nxt = b_list.iter_add(it)
        local w = b_list.iter_value(it)
        if age(now, w.t) > max_age then
            b_list.remove(r.seq_list, it)
            if w.order > r.answered then
                r.owed[#r.owed + 1] = { cmd = w.cmd, order = w.order }
                if #r.owed > OWED_MAX then table.remove(r.owed, 1) end
            end
        end
        it = nxt
    end
end

local function oldest_wait(r, cmd)
    local it = b_list.begin(r.seq_list)
    while it do
        if matches(b_list.iter_value(it).cmd, cmd) then return it end
        it = b_list.iter_add(it)
    end
    return nil
end

-- The request an answer (of command cmd, text body) belongs to: its
-- sequence number and command, or nil when none does.
function M.take_seq(id, cmd, body, max_age)
    local r = rec(id)
    if not r then return nil end
    local now = qv_sys.tc()
    give_up(r, now, max_age)
    for i, o in ipairs(r.owed) do
        if matches(o.cmd, cmd) then
            table.remove(r.owed, i)
            took(r, o.order, cmd, body, now, nil)
            return nil
        end
    end
    local it = oldest_wait(r, cmd)
    if not it then return nil end
    local w = b_list.remove(r.seq_list, it)
    took(r, w.order, cmd, body, now, age(now, w.t))
    return w.seq, w.cmd
end

-- When an answer may be a repeat and a request waits for it: the tick at
-- which it is taken as that request's answer, unless another answer of its
-- command comes first. Otherwise nil.
function M.repeat_hold(id, cmd, body, max_age)
    local r = rec(id)
    if not r then return nil end
    local now = qv_sys.tc()
    local kept = r.taken[cmd or ""]
    if not is_repeat(kept, body, now) then return nil end
    give_up(r, now, max_age)
    local it = oldest_wait(r, cmd)
    if not it then return nil end
    local slowest = 0
    for _, k in ipairs(kept) do
        if k.took_ms and k.took_ms > slowest then slowest = k.took_ms end
    end
    return (b_list.iter_value(it).t + 2 * slowest + HOLD_MARGIN_MS) & 0xFFFFFFFF
end

-- At most one held answer per command of a connection; another answer of
-- the command drops it.
function M.hold(id, cmd, body, ans, at)
    local r = rec(id)
    if r then r.held[cmd or ""] = { cmd = cmd, body = body, ans = ans, at = at } end
end

function M.drop_held(id, cmd)
    local r = rec(id)
    if r then r.held[cmd or ""] = nil end
end

-- The held answers whose time has come, taken out: { id, cmd, body, ans }.
-- Also whether any stay held.
function M.take_due_held()
    local now = qv_sys.tc()
    local due, left = {}, false
    for _, r in pairs(M.conn_list) do
        for key, h in pairs(r.held) do
            if ((now - h.at) & 0xFFFFFFFF) < 0x80000000 then
                due[#due + 1] = { id = r.id, cmd = h.cmd, body = h.body, ans = h.ans }
                r.held[key] = nil
            else
                left = true
            end
        end
    end
    return due, left
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
