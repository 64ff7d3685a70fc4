// Finds a control of the window by its design name; a missing one ends the test run at once.
#pragma once

#include <QWidget>

namespace tarvelin::testing {

template <typename T>
T *Control(QWidget &window, const char *name) {
    T *control = window.findChild<T *>(QString::fromLatin1(name));
    if (!control) qFatal("no control %s", name);
    return control;
}

}  // namespace tarvelin::testing
