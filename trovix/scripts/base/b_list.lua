-- Doubly linked list: { size, front, back } of nodes { prev, pnext, value }.
local M = {}

function M.create()
    return { size = 0, front = nil, back = nil }
end

function M.push_back(l, v)
    local node = { prev = l.back, pnext = nil, value = v }
    if l.back then l.back.pnext = node else l.front = node end
    l.back = node
    l.size = l.size + 1
    return node
end

function M.push_front(l, v)
    local node = { prev = nil, pnext = l.front, value = v }
    if l.front then l.front.prev = node else l.back = node end
    l.front = node
    l.size = l.size + 1
    return node
end

local function unlink(l, node)
    if node.prev then node.prev.pnext = node.pnext else l.front = node.pnext end
    if node.pnext then node.pnext.prev = node.prev else l.back = node.prev end
    node.prev, node.pnext = nil, nil
    l.size = l.size - 1
    return node.value
end

function M.pop_back(l)
    if not l.back then return nil end
    return unlink(l, l.back)
end

function M.pop_front(l)
    if not l.front then return nil end
    return unlink(l, l.front)
end

function M.size(l)
    return l.size
end

function M.begin(l)
    return l.front
end

function M.iter_add(it)
    return it and it.pnext
end

function M.iter_value(it)
    return it and it.value
end

function M.remove(l, it)
    if not it then return nil end
    return unlink(l, it)
end

return M
