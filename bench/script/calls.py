# 300,000 rounds of a class's property get, property set and a method.
class Counter:
    def __init__(self):
        self._value = None

    @property
    def value(self):
        return self._value

    @value.setter
    def value(self, v):
        self._value = v

    def add(self, n):
        self._value = self._value + n


c = Counter()
c.value = 0
for i in range(1, 300001):
    c.value = c.value + 1
    c.add(2)
print(c.value)
