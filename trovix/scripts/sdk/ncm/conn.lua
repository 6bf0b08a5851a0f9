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
        sent = 0,      -- requests sent, in order
        answered = 0,  -- place of the latest request known answered
        owed = {},     -- given-up requests whose answers may still come, in order
        suspect = {},  -- command -> place of a given-up request whose answer may have come already
        held = {},     -- command -> an answer held until that is settled
    }
    return true
end

-- A caller waits at most this long when the library does not say (ms).
M.WAIT_MS = 6000

-- A wait remembers the command it was sent for, when, how long its caller
-- still waits (left, ms), its place among the connection's requests and the
-- read count before it was sent (mark), so an answer can find its own
-- request, and a wait whose caller has given up still takes the answer owed
-- to it.
function M.push_seq(id, seq, cmd, mark, left)
    local r = rec(id)
    if not r then return false end
    r.sent = r.sent + 1
    b_list.push_back(r.seq_list, { seq = seq, cmd = cmd, t = qv_sys.tc(), left = left or M.WAIT_MS,
                                   order = r.sent, mark = mark })
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
-- without "cmd" waits for any answer) that was sent before the answer was
-- read. A device that answers in order and in time gets every answer handed
-- on as it is read. What else can be told:
-- * an answer owed to a request whose caller has given up: the next answer
--   of that command is taken for it and dropped, so a late answer never
--   reaches a later request. Once the device has answered a later request
--   of any command, no earlier answer can come any more.
-- * a lost answer: the next request's own answer is then taken for the
--   given-up one, and that request fails. It is not owed an answer in turn
--   (its own may have been the one taken), nor is any request before it, so
--   the loss costs that request only. Whether its answer did come is
--   settled by the next answer of the command: while a request waits, that
--   one is held until HOLD_LEFT_MS before the waiting request's caller gives
--   up. Another answer of the command within that time shows the held one to
--   be the given-up request's, late, and it is dropped; otherwise it is the
--   waiting request's. Only a device that lost or delayed an answer is ever
--   held for.
-- A copy of an answer looks exactly like the next request's own answer
-- when the device has the same to say: one read before a request of its
-- command was sent is dropped, one read after is taken as that request's.
local OWED_MAX = 16
local HOLD_LEFT_MS = 300

local function key_of(cmd)
    return cmd or ""
end

local function matches(waited, cmd)
    return cmd == nil or waited == nil or waited == cmd
end

-- An answer read at read_no can answer only a request sent before it was
-- read (mark: the read count taken before sending).
local function read_after(read_no, mark)
    return read_no == nil or mark == nil or read_no > mark
end

-- The request at place order is known answered: every earlier one is done.
local function settle(r, order)
    if order > r.answered then r.answered = order end
    while r.owed[1] and r.owed[1].order < r.answered do table.remove(r.owed, 1) end
    for key, place in pairs(r.suspect) do
        if place < r.answered then r.suspect[key] = nil end
    end
end

-- Waits whose callers have given up leave: those whose answers may still
-- come are owed them.
local function give_up(r, now)
    local it = b_list.begin(r.seq_list)
    while it do
        local nxt = b_list.iter_add(it)
        local w = b_list.iter_value(it)
        if age(now, w.t) >= w.left then
            b_list.remove(r.seq_list, it)
            if w.order > r.answered then
                if w.doubt then
                    -- Taken as answered, so nothing before it is owed any more.
                    settle(r, w.order)
                    r.suspect[key_of(w.cmd)] = w.order
                else
                    r.owed[#r.owed + 1] = { cmd = w.cmd, order = w.order, mark = w.mark }
                    if #r.owed > OWED_MAX then table.remove(r.owed, 1) end
                end
            end
        end
        it = nxt
    end
end

local function oldest_wait(r, cmd, read_no)
    local it = b_list.begin(r.seq_list)
    while it do
        local w = b_list.iter_value(it)
        if matches(w.cmd, cmd) and read_after(read_no, w.mark) then return it end
        it = b_list.iter_add(it)
    end
    return nil
end

-- What becomes of an answer of command cmd (text body, decoded ans) read at
-- read_no: "give" with the sequence number and command of the request it
-- answers; "hold" when it waits for conn.take_due_held; nil when dropped.
function M.match(id, cmd, body, ans, read_no)
    local r = rec(id)
    if not r then return nil end
    local now = qv_sys.tc()
    give_up(r, now)
    for i, o in ipairs(r.owed) do
        if matches(o.cmd, cmd) and read_after(read_no, o.mark) then
            table.remove(r.owed, i)
            local it = oldest_wait(r, cmd, read_no)
            if it then b_list.iter_value(it).doubt = true end
            settle(r, o.order)
            return nil
        end
    end
    local key = key_of(cmd)
    local held = r.held[key]
    if held then
        r.held[key] = nil -- the held one came late: this one is the waiting request's
    elseif r.suspect[key] then
        r.suspect[key] = nil
        local it = oldest_wait(r, cmd, read_no)
        if not it then return nil end -- the given-up request's own answer, late
        local w = b_list.iter_value(it)
        local hold_ms = w.left - HOLD_LEFT_MS - age(now, w.t)
        if hold_ms > 0 then
            r.held[key] = { body = body, ans = ans, order = w.order, at = (now + hold_ms) & 0xFFFFFFFF }
            return "hold"
        end
    end
    local it = oldest_wait(r, cmd, read_no)
    if not it then return nil end
    local w = b_list.remove(r.seq_list, it)
    settle(r, w.order)
    return "give", w.seq, w.cmd
end

local function take_wait(r, order)
    local it = b_list.begin(r.seq_list)
    while it do
        if b_list.iter_value(it).order == order then return b_list.remove(r.seq_list, it) end
        it = b_list.iter_add(it)
    end
    return nil
end

-- The held answers whose time has come, taken out with the requests they
-- answer: { id, seq, cmd, body, ans }. Also whether any stay held.
function M.take_due_held()
    local now = qv_sys.tc()
    local due, left = {}, false
    for _, r in pairs(M.conn_list) do
        for key, h in pairs(r.held) do
            if ((now - h.at) & 0xFFFFFFFF) < 0x80000000 then
                r.held[key] = nil
                local w = take_wait(r, h.order)
                if w then
                    settle(r, w.order)
                    due[#due + 1] = { id = r.id, seq = w.seq, cmd = w.cmd, body = h.body, ans = h.ans }
                end
            else
                left = true
            end
        end
    end
    return due, left
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
        if w.cmd ~= "logout" and age(now, w.t) < w.left then out[#out + 1] = w.seq end
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
