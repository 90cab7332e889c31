local f = io.open("/proc/self/status")
print(f:read("a"):match("VmRSS:%s*(%d+)"))
