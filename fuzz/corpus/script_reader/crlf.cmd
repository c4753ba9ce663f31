CE000001
CQ
Fcode.lzs
CX
