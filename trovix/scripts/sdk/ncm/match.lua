-- Whose answer is whose, among the requests of one command that a device
-- may have answered late or not at all. Pure: sdk.ncm.conn keeps the
-- requests and the answers held for them and asks here what is certain.
--
-- The framed protocol carries no request id. A device answers the requests
-- of a command in the order it got them, each at most once, but it may
-- answer one after its caller gave up (late) or never (lost). Any placing of
-- the held answers on the requests that keeps both orders, and gives each
-- answer a request sent before the answer was read, is a possible course of
-- events. In a course, a fault is a request with no answer read before its
-- decision time (HOLD_LEFT_MS before its caller gives up): late, lost, or
-- passed over by the answer of a later request.
--
-- The library reckons with the courses that need the fewest faults and,
-- once it has seen a fault, with those that need one more as well: a late
-- answer and a lost one right after it are never mistaken for a lost answer
-- and an answer in time, while a device that misses nothing, whose answers
-- need no fault at all, gets every answer at once. What holds in every
-- course reckoned with is certain; only that is handed on.
local M = {}

-- A request is decided this long before its caller gives up (ms): an answer
-- that settles it later than that would come too late to be handed on.
M.HOLD_LEFT_MS = 300

local INF = math.huge

local function age(now, t)
    return (now - t) & 0xFFFFFFFF
end

-- Past the time by which its answer should have been read.
function M.decided(w, now)
    return age(now, w.t) + M.HOLD_LEFT_MS >= w.left
end

-- Answer a can be request w's: read after w was sent (w.mark: the read count
-- before sending), and not after the device answered a later request of any
-- command (w.passed_by), once w is decided.
function M.can_answer(w, a, now)
    if a.read_no ~= nil and w.mark ~= nil and a.read_no <= w.mark then return false end
    if w.passed_by ~= nil and a.read_no ~= nil and a.read_no > w.passed_by and M.decided(w, now) then
        return false
    end
    return true
end

-- reqs: the requests in question, in the order they were sent ({ t, left,
-- mark, passed_by }); answers: the answers held, in the order they were read
-- ({ read_no, at }). Every answer goes to one request. Returns nil when no
-- course fits; else, for each request i, fate[i] = { answers = the indexes
-- of the answers it may have, none = whether it may have none }.
function M.weigh(reqs, answers, now)
    local n, m = #reqs, #answers
    -- Faults of request i left without an answer: it is passed over when
    -- answers remain for later requests, or past its decision time.
    local function unanswered(i, used)
        if used < m or M.decided(reqs[i], now) then return 1 end
        return 0
    end
    local function given(i, j)
        if not M.can_answer(reqs[i], answers[j], now) then return INF end
        local w = reqs[i]
        return age(answers[j].at, w.t) + M.HOLD_LEFT_MS >= w.left and 1 or 0
    end
    -- before[i][j]: fewest faults of requests 1..i holding answers 1..j;
    -- after[i][j]: of requests i+1..n holding answers j+1..m.
    local before, after = {}, {}
    for i = 0, n do
        before[i], after[i] = {}, {}
        for j = 0, m do before[i][j], after[i][j] = INF, INF end
    end
    before[0][0] = 0
    for i = 1, n do
        for j = 0, m do
            local best = before[i - 1][j] + unanswered(i, j)
            if j > 0 then best = math.min(best, before[i - 1][j - 1] + given(i, j)) end
            before[i][j] = best
        end
    end
    after[n][m] = 0
    for i = n - 1, 0, -1 do
        for j = m, 0, -1 do
            local best = after[i + 1][j] + unanswered(i + 1, j)
            if j < m then best = math.min(best, after[i + 1][j + 1] + given(i + 1, j + 1)) end
            after[i][j] = best
        end
    end
    local fewest = before[n][m]
    if fewest == INF then return nil end
    local bound = fewest + (fewest > 0 and 1 or 0)
    local fate = {}
    for i = 1, n do
        local f = { answers = {}, none = false }
        for j = 0, m do
            if before[i - 1][j] + unanswered(i, j) + after[i][j] <= bound then f.none = true end
            if j > 0 and before[i - 1][j - 1] + given(i, j) + after[i][j] <= bound then
                f.answers[#f.answers + 1] = j
            end
        end
        fate[i] = f
    end
    return fate
end

return M
