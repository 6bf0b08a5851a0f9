-- Connection records of logins: status, session keys, the requests that
-- wait to be sent and those that wait for a device answer.
--
-- The framed protocol carries no request id, so an answer is matched to its
-- request by command. That is only sound while a connection has at most one
-- request of a command in question: with two on the wire, a device that lost
-- the first one's answer and answered the second looks exactly like one that
-- answered the first. So a request goes out only when no request of its
-- command is in question on the connection, and the others wait here, in the
-- order they were called, under their callers' own deadlines; one whose
-- caller gave up while it waited is never sent. A request without a command
-- (raw text) can be answered by anything, so it has the connection alone,
-- and an answer that names no command is only ever its answer (or the
-- login's, while the login is the only request in question).
--
-- A request is in question from the moment it is sent until its answer has
-- been read or ANSWER_MS have passed: a device answers within that time or
-- never. Its caller may give up before (after WAIT_MS); an answer that comes
-- later is still its answer, dropped, and it keeps the next request of its
-- command waiting until then. With one request of a command in question the
-- order in which the device answers commands doesn't matter: a request ends
-- only by its own answer, its caller's time-out or the end of its connection.
--
-- A connection holds at most HELD_MAX requests, in question or waiting; one
-- beyond fails at once, so that none in question is forgotten before its
-- answer time and a flood on one connection costs no other connection
-- anything.
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
-- connection was lost), no answer for it, and a device refusal whose code
-- can't be passed on.
M.FAILED = 1
M.TIMEOUT = 2
M.DEVICE_CODE = 6

-- A caller waits at most this long when the library does not say (ms).
M.WAIT_MS = 6000
-- How long after it was sent a request's answer may still come (ms). It
-- ends before two of its callers' waits have passed, so that a request
-- called that long after a lost answer goes out at once.
M.ANSWER_MS = 11000
-- Requests one connection holds at most, in question or waiting to be sent.
-- It leaves room for polls of a command whose answer was lost: they wait up
-- to their callers' 6 s each.
M.HELD_MAX = 1024

local DEFAULT_KEY = "730418"
local CLEANUP_TIMER = 100
local CLEANUP_MS = 10000
-- While requests wait to be sent, how often their turn is looked at (ms).
local QUEUE_TIMER = 110
local QUEUE_CHECK_MS = 10

M.conn_list = {}

local kept = b_list.create() -- every request in question, in the order sent
local calls = 0              -- requests called so far, for their order
local queue_timer_on = false

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
        asked = b_list.create(), -- its requests in question, in the order sent
        by_cmd = {},             -- command -> its request in question
        alone = nil,             -- the request without a command in question
        queues = {},             -- command -> its requests waiting to be sent
        loose = b_list.create(), -- requests without a command waiting to be sent
        queued = 0,
    }
    return true
end

local function age(now, t)
    return (now - t) & 0xFFFFFFFF
end

-- Its caller's time is not over.
local function within(w, now)
    return age(now, w.t) < w.left
end

-- Somebody still waits for its answer.
local function expects(w, now)
    return not w.quiet and not w.told and within(w, now)
end

local function in_question(w, now)
    return age(now, w.sent) < M.ANSWER_MS
end

local function forget(w)
    local r = w.r
    if w.node then b_list.remove(r.asked, w.node) end
    if w.kept then b_list.remove(kept, w.kept) end
    w.node, w.kept = nil, nil
    if w.cmd == nil then
        if r.alone == w then r.alone = nil end
    elseif r.by_cmd[w.cmd] == w then
        r.by_cmd[w.cmd] = nil
    end
end

-- Its answer will not come, or not in time: a caller still waiting hears so.
local function tell(w, now)
    if expects(w, now) then qv_ncm.response_sdk(w.seq, w.r.id, M.TIMEOUT, "") end
    w.told = true
end

local function sweep(now)
    while kept.front do
        local w = kept.front.value
        if in_question(w, now) then break end
        tell(w, now)
        forget(w)
    end
end

local function alive(w, now)
    if w and not in_question(w, now) then
        forget(w)
        return nil
    end
    return w
end

-- The request in question that an answer of command cmd (nil: none named)
-- is for.
local function current(r, cmd, now)
    local w = alive(r.alone, now) -- takes any answer
    if w then return w end
    if cmd ~= nil then return alive(r.by_cmd[cmd], now) end
    -- A device may answer its login without naming it: while the login is
    -- the only request in question, that can only be its answer.
    w = alive(r.by_cmd.login, now)
    if w and r.asked.size == 1 then return w end
    return nil
end

-- Some request is in question on the connection.
local function busy(r, now)
    while r.asked.front do
        if alive(r.asked.front.value, now) then return true end
    end
    return false
end

local function send(r, w)
    local mark = qv_ncm.reads()
    local text = w.text
    w.text = nil
    if not qv_ncm.send(r.id, text) then return false end
    w.mark = mark -- an answer read before this can't be its answer
    w.sent = qv_sys.tc()
    w.node = b_list.push_back(r.asked, w)
    w.kept = b_list.push_back(kept, w)
    if w.cmd == nil then r.alone = w else r.by_cmd[w.cmd] = w end
    return true
end

-- The oldest request of a queue whose caller still waits; those that gave
-- up on the way leave it unsent.
local function head(r, q, now)
    while q.front do
        local w = q.front.value
        if within(w, now) then return w end
        b_list.pop_front(q)
        r.queued = r.queued - 1
    end
    return nil
end

local function take(r, q, w)
    b_list.pop_front(q)
    r.queued = r.queued - 1
    if not send(r, w) and expects(w, qv_sys.tc()) then
        qv_ncm.response_sdk(w.seq, r.id, M.FAILED, "")
    end
end

-- Sends every waiting request whose turn has come.
local function pump(r, now)
    if r.queued == 0 or alive(r.alone, now) then return end
    local loose = head(r, r.loose, now)
    for cmd, q in pairs(r.queues) do
        local w = head(r, q, now)
        if w and (not loose or w.order < loose.order) and not alive(r.by_cmd[cmd], now) then
            take(r, q, w)
        end
        if not q.front then r.queues[cmd] = nil end
    end
    if loose and not busy(r, now) then take(r, r.loose, loose) end
end

local function queue_tick()
    local now = qv_sys.tc()
    sweep(now)
    local more = false
    for _, r in pairs(M.conn_list) do
        pump(r, now)
        more = more or r.queued > 0
    end
    queue_timer_on = more
    return more and 0 or 1 -- 1 ends the timer
end

-- A request of command cmd (nil: none) with its text, and how long its
-- caller still waits (left, ms; nil when nobody waits). It is sent when its
-- turn comes; false without a record or when the connection holds HELD_MAX.
function M.submit(id, seq, cmd, text, left)
    local r = rec(id)
    if not r then return false end
    local now = qv_sys.tc()
    sweep(now)
    if r.asked.size + r.queued >= M.HELD_MAX then return false end
    calls = calls + 1
    local w = { r = r, seq = seq, cmd = cmd, text = text, t = now, left = left or M.WAIT_MS,
                quiet = left == nil, order = calls }
    local q
    if cmd == nil then
        q = r.loose
    else
        q = r.queues[cmd] or b_list.create()
        r.queues[cmd] = q
    end
    b_list.push_back(q, w)
    r.queued = r.queued + 1
    pump(r, now)
    if r.queued > 0 and not queue_timer_on then
        queue_timer_on = qv_sys.add_timer(QUEUE_TIMER, QUEUE_CHECK_MS, queue_tick)
    end
    return true
end

-- An answer of command cmd (nil: none named; text body, decoded ans) read
-- at read_no. Returns the answer to hand on, { id, seq, cmd, body, ans },
-- or nil when nobody waits for it.
function M.match(id, cmd, body, ans, read_no)
    local r = rec(id)
    if not r then return nil end
    local now = qv_sys.tc()
    sweep(now)
    local w = current(r, cmd, now)
    if not w or (read_no ~= nil and read_no <= w.mark) then
        return nil -- asked for by no request in question: unasked, or a copy
    end
    local out
    if expects(w, now) then
        out = { id = r.id, seq = w.seq, cmd = w.cmd, body = body, ans = ans }
    end -- else its caller has given up or was told: a late answer
    forget(w)
    pump(r, now)
    return out
end

-- Takes every request of the connection, sent or not; returns the sequence
-- numbers of those whose callers still wait.
function M.take_waits(id)
    local r = rec(id)
    local out = {}
    if not r then return out end
    local now = qv_sys.tc()
    local function take_all(l)
        while l.front do
            local w = l.front.value
            if l == r.asked then forget(w) else b_list.pop_front(l) end
            if expects(w, now) then out[#out + 1] = w.seq end
        end
    end
    take_all(r.asked)
    take_all(r.loose)
    for _, q in pairs(r.queues) do take_all(q) end
    r.queues, r.queued = {}, 0
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
            for _, seq in ipairs(M.take_waits(r.id)) do
                qv_ncm.response_sdk(seq, r.id, M.FAILED, "")
            end
            qv_ncm.close(r.id)
            M.conn_list[key] = nil
        end
    end
    sweep(qv_sys.tc())
    return 0
end

function M.init()
    qv_sys.add_timer(CLEANUP_TIMER, CLEANUP_MS, cleanup)
end

function M.quit()
    qv_sys.remove_timer(CLEANUP_TIMER)
    if queue_timer_on then qv_sys.remove_timer(QUEUE_TIMER) end
    queue_timer_on = false
end

return M
