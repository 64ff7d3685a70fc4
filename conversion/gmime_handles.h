// Owners for the GLib and GMime objects that the header reader uses. Private to conversion/:
// no header that Qt code includes may include this one.
#pragma once

#include <gmime/gmime.h>

#include <memory>

namespace tarvelin::gmime {

// One traits struct per C type: how to take and drop a reference.
template <typename T>
struct HandleTraits;

struct GObjectTraits {
    static void AddRef(gpointer object) { g_object_ref(object); }
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
    static void AddRef(GDateTime *date) { g_date_time_ref(date); }
    static void Release(GDateTime *date) noexcept { g_date_time_unref(date); }
};

// Parser options are not reference counted: only an owned pointer can be wrapped.
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
template <typename T>
Handle<T> TakeOwned(T *pointer) {
    return Handle<T>(pointer);
}

// The object's owner keeps its reference (a _get result): we take one of our own. Types without
// reference counting have no AddRef, so they cannot be wrapped this way by mistake.
template <typename T>
Handle<T> AddRef(T *pointer) {
    if (pointer != nullptr) HandleTraits<T>::AddRef(pointer);
    return Handle<T>(pointer);
}

}  // namespace tarvelin::gmime
