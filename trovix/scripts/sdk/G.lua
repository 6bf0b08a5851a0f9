-- Global table shared by the library's scripts.
return {
    ncm = nil,      -- the sdk.ncm.ncm module, set by init
    discover = nil, -- the qv_discover module, set by init
}
