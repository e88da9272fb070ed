# 10,000 log lines matched with a regular expression, the fields counted.
import re

pattern = re.compile(r"^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d) \[(\w+)\] device (\w+) (?:set to|reports) (-?\d+)$")
levels = ["INFO", "WARN", "ERROR", "DEBUG"]
errors = 0
total = 0
for i in range(1, 10001):
    line = ("2021-03-" + ("0" + str(i % 28 + 1))[-2:] + " " + ("0" + str(i % 24))[-2:] + ":"
            + ("0" + str(i % 60))[-2:] + ":" + ("0" + str((i * 7) % 60))[-2:] + " [" + levels[i % 4]
            + "] device D" + str(i % 97) + " reports " + str(i % 101 - 50))
    m = pattern.findall(line)
    if len(m) == 1:
        if m[0][6] == "ERROR":
            errors += 1
        total += int(m[0][8])
print(errors, total)
