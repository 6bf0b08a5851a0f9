-- Result codes; device-protocol errors lie in B .. E.
return {
    OK = 0,
    CONNECT = 3584,
    B = 4096,
    E = 32767,
    UNSUPPORT = 4097,
    NOTFOUND = 4098,
    PARAM = 4099,
    SAVE = 4100,
}
