import re
print(re.search(r"VmRSS:\s*(\d+)", open("/proc/self/status").read()).group(1))
