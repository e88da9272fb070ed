# A numeric loop of 3,000,000 iterations.
total = 0
for i in range(1, 3000001):
    total = total + i % 7
print(total)
