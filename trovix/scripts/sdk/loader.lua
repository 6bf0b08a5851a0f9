-- Entry script: the host calls setup, init and quit.
G = require("sdk.G")

function setup(arg)
    return 0
end

function init(arg)
    G.discover = require("qv_discover")
    if G.discover.init() ~= 0 or G.discover.start() ~= 0 then
        return 1
    end
    G.ncm = require("sdk.ncm.ncm")
    G.ncm.init()
    return 0
end

function quit()
    if G.ncm then G.ncm.quit() end
    if G.discover then
        G.discover.stop()
        G.discover.quit()
    end
    G.ncm = nil
    G.discover = nil
    return 0
end

return { setup = setup, init = init, quit = quit }
