// The types every component shares: String, Integer, Cardinal, TObject.

#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

// The vocabulary the components share. Text is 8-bit bytes with a length;
// where a routine counts positions it counts from 1, and 0 means not found.
using String = std::string;
using Integer = std::int32_t;
using Cardinal = std::uint32_t;
using TObject = QObject;

// An event property: a handler bound to some object, called with the sender
// first. An unset event is skipped.
template <typename... Args> using TEvent = std::function<void(TObject* sender, Args...)>;

template <typename Handler, typename... Args>
void Fire(const Handler& handler, TObject* sender, Args&&... args)
{
    if (handler)
        handler(sender, std::forward<Args>(args)...);
}
