ce123456
Ssub\dir\Boot.LZS
cq
cx