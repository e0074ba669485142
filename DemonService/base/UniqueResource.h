#pragma once

#include <type_traits>

// One owner for every kind of resource the service holds: kernel handles, registry keys, service
// manager handles, modules, CryptoAPI contexts, environment blocks, COM pointers and apartments.
//
// Traits describes the kind (base/Win32Resources.h builds them from a value type and its release function):
//   using Type = ...;                         the raw value
//   static Type Invalid() noexcept;           the value that means "none", held after release
//   static bool IsValid(Type) noexcept;       whether a value must be released
//   static void Close(Type) noexcept;         releases a valid value
//   static constexpr bool kComInterface;      (optional) true for COM interface pointers
//
// The owner is move-only. put() releases what is held and hands out the address of the raw value so
// that a Win32 out-parameter lands straight in the owner; put_void() does the same for the COM calls
// that take a void** (QueryInterface, CoCreateInstance).

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : m_value(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Type get() const noexcept { return m_value; }
    bool valid() const noexcept { return Traits::IsValid(m_value); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without releasing; the caller now owns the value.
    [[nodiscard]] Type release() noexcept
    {
        Type value = m_value;
        m_value = Traits::Invalid();
        return value;
    }

    // Releases what is held (if valid) and takes ownership of value. Given the value already held, it
    // does nothing: releasing it would leave the owner holding a released value.
    void reset(Type value = Traits::Invalid()) noexcept
    {
        if (value == m_value) {
            return;
        }
        Type old = m_value;
        m_value = value;
        if (Traits::IsValid(old)) {
            Traits::Close(old);
        }
    }

    Type* put() noexcept
    {
        reset();
        return &m_value;
    }

    template <typename T = Traits, typename = std::enable_if_t<T::kComInterface>>
    void** put_void() noexcept
    {
        return reinterpret_cast<void**>(put());
    }

private:
    Type m_value = Traits::Invalid();
};
