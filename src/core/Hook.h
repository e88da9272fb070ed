#pragma once

#include <functional>
#include <type_traits>
#include <utility>

// One entry of a hook table: a call from a lower subsystem into one built on top of it,
// filled in when that subsystem registers. Each table declares its entries as
// OptionalHook (a program may run without it: unset, a call does nothing) or RequiredHook
// (the full program always fills it: unset when first needed means it was forgotten, which
// is logged once; the call then still does nothing).
//
// Call sites use call(), which returns the result's default (false, an empty string, a null
// object) when the hook is unset, or available() where they take another road without it.
// Plain operator() and operator bool behave as on the std::function inside.

// Logs "Hook not set: <name>" the first time it is called for a name; later calls for the
// same name log nothing. The error a handler has recorded and not yet logged stays recorded.
void ReportUnsetHook(const char* name);

template <typename Sig>
class Hook;

template <typename R, typename... Args>
class Hook<R(Args...)>
{
public:
    using Function = std::function<R(Args...)>;

    Hook() = default;

    template <typename F>
        requires(!std::is_base_of_v<Hook, std::remove_cvref_t<F>> && std::is_assignable_v<Function&, F>)
    Hook& operator=(F&& function)
    {
        m_function = std::forward<F>(function);
        return *this;
    }

    explicit operator bool() const { return bool(m_function); }

    R operator()(Args... args) const { return m_function(std::forward<Args>(args)...); }

    R call(Args... args) const
    {
        if (m_function)
            return m_function(std::forward<Args>(args)...);
        reportUnset();
        if constexpr (!std::is_void_v<R>)
            return R();
    }

    bool available() const
    {
        if (m_function)
            return true;
        reportUnset();
        return false;
    }

protected:
    explicit Hook(const char* requiredName)
        : m_requiredName(requiredName)
    {
    }

private:
    void reportUnset() const
    {
        if (m_requiredName)
            ReportUnsetHook(m_requiredName);
    }

    Function m_function;
    const char* m_requiredName = nullptr;
};

template <typename Sig>
class OptionalHook : public Hook<Sig>
{
public:
    using Hook<Sig>::operator=;
};

template <typename Sig>
class RequiredHook : public Hook<Sig>
{
public:
    // The name logged when the hook is found unset, "<Table>.<member>".
    explicit RequiredHook(const char* name)
        : Hook<Sig>(name)
    {
    }
    using Hook<Sig>::operator=;
};
