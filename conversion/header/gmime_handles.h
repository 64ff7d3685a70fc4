// Owners for the GLib and GMime objects that the header reader uses. Private to conversion/:
// no header that Qt code includes may include this one.
#pragma once

#include <gmime/gmime.h>

#include <memory>

namespace tarvelin::gmime {

// One traits struct per C type: how to drop the reference we own.
template <typename T>
struct HandleTraits;

struct GObjectTraits {
    static void Release(gpointer object) noexcept { g_object_unref(object); }
};
template <>
struct HandleTraits<GMimeStream> : GObjectTraits {};
template <>
struct HandleTraits<GMimeParser> : GObjectTraits {};
template <>
struct HandleTraits<GMimeMessage> : GObjectTraits {};
template <>
struct HandleTraits<GMimeObject> : GObjectTraits {};
template <>
struct HandleTraits<InternetAddressList> : GObjectTraits {};

template <>
struct HandleTraits<GDateTime> {
    static void Release(GDateTime *date) noexcept { g_date_time_unref(date); }
};

template <>
struct HandleTraits<GMimeParserOptions> {
    static void Release(GMimeParserOptions *options) noexcept { g_mime_parser_options_free(options); }
};

// Strings that GLib allocates for the caller (g_free).
template <>
struct HandleTraits<char> {
    static void Release(char *text) noexcept { g_free(text); }
};

template <typename T>
struct HandleDeleter {
    void operator()(T *pointer) const noexcept {
        if (pointer != nullptr) HandleTraits<T>::Release(pointer);
    }
};

template <typename T>
using Handle = std::unique_ptr<T, HandleDeleter<T>>;

// The call handed us its reference (a _new, _construct or _decode result): we own it already.
// A _get result stays the owner's and is used bare, never wrapped.
template <typename T>
Handle<T> TakeOwned(T *pointer) {
    return Handle<T>(pointer);
}

}  // namespace tarvelin::gmime
