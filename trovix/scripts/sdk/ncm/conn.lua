-- Connection records of logins: status, session keys and the requests that
-- wait for a device answer.
local b_list = require("base.b_list")
local qv_sys = require("qv_sys")
local qv_ncm = require("qv_ncm")
local match = require("sdk.ncm.match")

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
        sent = 0,      -- requests sent, in order
        held = {},     -- command -> answers read while it is not certain whose they are
    }
    return true
end

-- A caller waits at most this long when the library does not say (ms).
M.WAIT_MS = 6000

-- A wait remembers the command it was sent for, when, how long its caller
-- still waits (left, ms), its place among the connection's requests and the
-- read count before it was sent (mark), so that an answer can find its own
-- request; it stays in question after its caller gave up, while its answer
-- may still come.
function M.push_seq(id, seq, cmd, mark, left)
    local r = rec(id)
    if not r then return false end
    r.sent = r.sent + 1
    local w = { seq = seq, cmd = cmd, key = cmd or "", t = qv_sys.tc(), left = left or M.WAIT_MS,
                order = r.sent, mark = mark }
    w.node = b_list.push_back(r.seq_list, w)
    return true
end

function M.pop_seq(id)
    local r = rec(id)
    if not r then return false, 0 end
    local w = b_list.pop_front(r.seq_list)
    if w then w.node = nil end
    return true, w and w.seq
end

local function age(now, t)
    return (now - t) & 0xFFFFFFFF
end

-- The framed protocol carries no request id. A device answers requests in
-- the order it got them, so an answer belongs to the oldest request of its
-- command that is still in question and was sent before the answer was
-- read. While no request of the command is in doubt, that is the oldest
-- waiting one, and the answer is handed on as it is read. A request whose
-- caller gave up without its answer puts the command in doubt: the next
-- answer may be that request's, late, or a later one's when it was lost.
-- Answers are then held and sdk.ncm.match tells what is certain: an answer
-- goes on only when every course of events the library reckons with gives
-- it to the same waiting request, and a request whose answer can't be
-- placed by the time its caller is about to give up gets none (2). Once
-- the device has answered a request, no answer of an earlier request of
-- any command can come any more.
-- A copy of an answer looks exactly like the next request's own answer
-- when the device has the same to say: one read before a request of its
-- command was sent is dropped, one read after is taken as that request's.
local GONE_MAX = 32 -- given-up requests of a command kept in question

local function waiting(w, now)
    return age(now, w.t) < w.left
end

local function forget(r, w)
    if w.node then b_list.remove(r.seq_list, w.node) end
    w.node = nil
end

-- The device answered the request at place order (read at read_no): the
-- answers of all earlier requests have come, or never will.
local function passed(r, order, read_no)
    if read_no == nil then return end
    local it = b_list.begin(r.seq_list)
    while it do
        local w = b_list.iter_value(it)
        if w.order < order and w.passed_by == nil then w.passed_by = read_no end
        it = b_list.iter_add(it)
    end
end

-- Requests given up on after nothing could be placed for them leave once
-- their callers are gone; so do the oldest given-up ones of a command past
-- GONE_MAX (a device silent that long lost their answers).
local function expire(r, now)
    local gone = {}
    local it = b_list.begin(r.seq_list)
    while it do
        local nxt = b_list.iter_add(it)
        local w = b_list.iter_value(it)
        if not waiting(w, now) then
            if w.dead then
                forget(r, w)
            else
                gone[w.key] = (gone[w.key] or 0) + 1
            end
        end
        it = nxt
    end
    for key, count in pairs(gone) do
        it = b_list.begin(r.seq_list)
        while it and count > GONE_MAX do
            local nxt = b_list.iter_add(it)
            local w = b_list.iter_value(it)
            if w.key == key and not waiting(w, now) then
                forget(r, w)
                count = count - 1
            end
            it = nxt
        end
    end
end

-- The requests of a command still in question, in the order they were sent.
local function window(r, key)
    local reqs = {}
    local it = b_list.begin(r.seq_list)
    while it do
        local w = b_list.iter_value(it)
        if w.key == key and not w.dead then reqs[#reqs + 1] = w end
        it = b_list.iter_add(it)
    end
    return reqs
end

local function give(out, r, w, a)
    out[#out + 1] = { id = r.id, seq = w.seq, cmd = w.cmd, body = a.body, ans = a.ans }
end

-- Hands on (into out) what has become certain among the requests of
-- command key and the answers held for them, and forgets what is settled.
local function settle(r, key, now, out)
    local held = r.held[key] or {}
    r.held[key] = held
    for _ = 1, 2 * GONE_MAX do
        local reqs = window(r, key)
        local fate = match.weigh(reqs, held, now)
        while not fate do
            -- An answer that fits no course is nobody's: asked for by no
            -- request still in question (a copy, or unasked).
            table.remove(held)
            fate = match.weigh(reqs, held, now)
        end
        -- Up to cut_i, cut_j the requests and answers are settled: a request
        -- certain of its answer settles every one before it.
        local cut_i, cut_j, answered = 0, 0, {}
        for i, w in ipairs(reqs) do
            local f = fate[i]
            if #f.answers == 1 and not f.none then
                local j = f.answers[1]
                if waiting(w, now) then
                    give(out, r, w, held[j])
                    passed(r, w.order, held[j].read_no)
                    answered[w] = true
                    cut_i, cut_j = i, j
                elseif i == cut_i + 1 then
                    cut_i, cut_j = i, j -- a given-up request's late answer
                end
            elseif i == cut_i + 1 and #f.answers == 0 and not waiting(w, now) and w.passed_by ~= nil then
                cut_i = i -- given up, and its answer can't come any more
            end
        end
        if cut_i == 0 then break end
        for i = 1, cut_i do
            local w = reqs[i]
            if waiting(w, now) and not answered[w] then
                -- Passed over, or its answer can't be told among earlier
                -- ones: it gets none, and its caller gives up.
                w.dead = true
            else
                forget(r, w)
            end
        end
        for _ = 1, cut_j do table.remove(held, 1) end
    end
    if #held == 0 then r.held[key] = nil end
end

-- Whether the command is in doubt: answers held, or a request of it given
-- up or about to be.
local function in_doubt(r, key, now)
    if r.held[key] then return true end
    for _, w in ipairs(window(r, key)) do
        if match.decided(w, now) then return true end
    end
    return false
end

-- Whether anything held may become certain as time passes: a request is
-- still waiting for it.
local function watched(r)
    local now = qv_sys.tc()
    for key in pairs(r.held) do
        for _, w in ipairs(window(r, key)) do
            if waiting(w, now) then return true end
        end
    end
    return false
end

-- An answer of command cmd (text body, decoded ans) read at read_no.
-- Returns the answers to hand on, { id, seq, cmd, body, ans } in the order
-- of their requests (none when it is held or dropped), and whether answers
-- are held that time may settle (then conn.tick is to be called).
function M.match(id, cmd, body, ans, read_no)
    local r = rec(id)
    if not r then return {}, false end
    local now = qv_sys.tc()
    expire(r, now)
    local a = { body = body, ans = ans, read_no = read_no, at = now }
    local out = {}
    local key = cmd or ""
    -- The oldest waiting request it can answer: of its command, or of any
    -- when the answer or the request names none.
    local first
    local it = b_list.begin(r.seq_list)
    while it do
        local w = b_list.iter_value(it)
        if not w.dead and waiting(w, now) and (cmd == nil or w.cmd == nil or w.key == key)
            and match.can_answer(w, a, now) then
            first = w
            break
        end
        it = b_list.iter_add(it)
    end
    if first and (first.key ~= key or cmd == nil or not in_doubt(r, key, now)) then
        give(out, r, first, a)
        passed(r, first.order, read_no)
        forget(r, first)
        return out, watched(r)
    end
    if not first and not r.held[key] and #window(r, key) == 0 then
        return out, watched(r) -- nobody asked
    end
    local held = r.held[key] or {}
    held[#held + 1] = a
    r.held[key] = held
    settle(r, key, now, out)
    return out, watched(r)
end

-- Settles what time has made certain on every connection; returns the
-- answers to hand on and whether any stay held.
function M.tick()
    local now = qv_sys.tc()
    local out, more = {}, false
    for _, r in pairs(M.conn_list) do
        expire(r, now)
        local keys = {}
        for key in pairs(r.held) do keys[#keys + 1] = key end
        for _, key in ipairs(keys) do settle(r, key, now, out) end
        more = more or watched(r)
    end
    return out, more
end

-- Takes every wait of the connection; returns the sequence numbers of those
-- whose callers still wait (not a logout).
function M.take_waits(id)
    local r = rec(id)
    local out = {}
    if not r then return out end
    r.held = {}
    local now = qv_sys.tc()
    while true do
        local w = b_list.pop_front(r.seq_list)
        if not w then break end
        w.node = nil
        if w.cmd ~= "logout" and waiting(w, now) then out[#out + 1] = w.seq end
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
