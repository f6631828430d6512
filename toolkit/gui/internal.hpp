#pragma once
// Shared between the framework's source files only.
#include <QWidget>

namespace ocu::gui::detail {

// Marks `w` as a window of the framework (idempotent).
void register_figure(QWidget* w);
bool is_figure(const QWidget* w);
QWidget* current_axes(QWidget* fig);
void set_current_axes(QWidget* fig, QWidget* ax);
// Set while a pointer input waits: presses then belong to it.
extern bool g_pointer_input_active;

}  // namespace ocu::gui::detail
