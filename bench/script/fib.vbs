' Recursive Fibonacci: the cost of a script function call.
Function Fib(n)
    If n < 2 Then
        Fib = n
    Else
        Fib = Fib(n - 1) + Fib(n - 2)
    End If
End Function

WScript.Echo Fib(28)
