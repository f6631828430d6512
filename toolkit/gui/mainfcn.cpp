// The window framework over Qt Widgets (see framework.hpp): the main routine
// of every window function (gui_mainfcn), apart from the thin template in the
// header that adapts a window's table of local operations.
#include "toolkit/gui/framework.hpp"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>

#include "toolkit/gui/internal.hpp"

namespace ocu::gui::detail {

namespace {

bool is_callback_mode(const Args& v) {
    return v.size() > 3 && is_text(v[0]) && std::holds_alternative<Handle>(v[1]) &&
           is_valid(std::get<Handle>(v[1]));
}

bool prefix_match(std::string_view s, std::string_view ref, std::size_t n) {
    // The first n characters of s and ref agree, case ignored (both need n).
    if (s.size() < n || ref.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(s[i])) !=
            std::tolower(static_cast<unsigned char>(ref[i])))
            return false;
    }
    return true;
}

bool visibility_request(const Args& v) {
    bool show = true;
    for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
        if (!is_text(v[i]) || !is_text(v[i + 1])) continue;
        const std::string& name = text(v[i]);
        const std::string& val = text(v[i + 1]);
        if (!prefix_match(name, "visible", std::min<std::size_t>(7, name.size()))) continue;
        const std::size_t len2 = std::min<std::size_t>(3, val.size());
        if (len2 <= 1) continue;
        if (prefix_match(val, "off", len2))
            show = false;
        else if (prefix_match(val, "on", len2))
            show = true;
    }
    return show;
}

void apply_property_pairs(QWidget* fig, const Args& v) {
    for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
        if (!is_text(v[i])) return;
        if (!set_property(Handle(fig), text(v[i]), v[i + 1])) return;
    }
}

void check_description(const WindowDescription& d, const std::function<bool(const std::string&)>& has_op) {
    const std::string who = d.gui_Name.empty() ? std::string("(unnamed)") : d.gui_Name;
    auto missing = [&](const char* field) {
        return Error("The window description of \"" + who + "\" lacks the field " + field + ".");
    };
    if (d.gui_Name.empty()) throw missing("gui_Name");
    if (d.gui_OpeningFcn.empty() || !has_op(d.gui_OpeningFcn)) throw missing("gui_OpeningFcn");
    if (d.gui_OutputFcn.empty() || !has_op(d.gui_OutputFcn)) throw missing("gui_OutputFcn");
}

}  // namespace

Results main_function(const WindowDescription& d, const WindowOps& ops, const Args& varargin, int nargout) {
    check_description(d, ops.has);

    if (is_callback_mode(varargin)) {
        Args rest;
        rest.reserve(varargin.size() - 1);
        if (Args* lent = take_lent_args(varargin)) {
            // The record is the callback's own copy already; pass it on.
            for (auto it = lent->begin() + 1; it != lent->end(); ++it) {
                if (std::holds_alternative<Record>(*it))
                    rest.push_back(std::move(*it));
                else
                    rest.push_back(*it);
            }
        } else {
            rest.assign(varargin.begin() + 1, varargin.end());
        }
        return ops.call(d.gui_Callback, std::move(rest), nargout);
    }

    const Policy policy = d.gui_Singleton ? Policy::Reuse : Policy::New;
    QWidget* fig = nullptr;
    if (d.gui_LayoutFcn) {
        fig = d.gui_LayoutFcn(policy);
    } else {
        fig = openfig(d.gui_Name, policy, Visibility::Auto);
        if (isappdata(fig, "InGUIInitialization")) {
            // An earlier opening failed half-way: start from a fresh window.
            delete_now(fig);
            fig = openfig(d.gui_Name, policy, Visibility::Auto);
        }
    }
    if (!fig) throw Error("The window of \"" + d.gui_Name + "\" could not be built.");
    wire_callbacks(fig, d.gui_Name, ops.has);
    const Handle h(fig);

    setappdata(h, "InGUIInitialization", 1.0);
    const LayoutOptions opts = layout_options(h);
    if (!isappdata(h, "GUIOnScreen")) {
        if (opts.syscolorfig) set_background(h, default_uicontrol_background());
        guidata(h, Record{ops.new_record(guihandles(h))});
    }
    const bool show = visibility_request(varargin);
    apply_property_pairs(fig, varargin);

    const std::string hv = get_handle_visibility(h);
    if (hv == "callback") set_handle_visibility(h, "off");

    Args opening_args;
    opening_args.reserve(3 + varargin.size());
    opening_args.emplace_back(h);
    opening_args.emplace_back(Empty{});
    opening_args.emplace_back(guidata(h));
    opening_args.insert(opening_args.end(), varargin.begin(), varargin.end());
    ops.call(d.gui_OpeningFcn, std::move(opening_args), 0);

    // A modal wait the person cancelled: no results, the window goes.
    if (is_valid(h) && data_of(fig)->cancelled) {
        delete_object(h);
        throw Cancelled();
    }

    if (is_valid(h)) {
        set_handle_visibility(h, hv);
        if (show) {
            set_visible(h, true);
            if (opts.singleton) setappdata(h, "GUIOnScreen", 1.0);
        }
        rmappdata(h, "InGUIInitialization");
    }

    Record rec;
    if (is_valid(h)) {
        const std::string hv2 = get_handle_visibility(h);
        if (hv2 == "callback") set_handle_visibility(h, "off");
        rec = guidata(h);
        if (hv2 == "callback") set_handle_visibility(h, hv2);
    }
    Args output_args;
    output_args.reserve(3);
    output_args.emplace_back(is_valid(h) ? h : Handle{});
    output_args.emplace_back(Empty{});
    output_args.emplace_back(std::move(rec));
    Results r = ops.call(d.gui_OutputFcn, std::move(output_args), nargout);
    const std::size_t keep = static_cast<std::size_t>(nargout > 1 ? nargout : 1);
    if (r.size() > keep) r.resize(keep);
    return r;
}

}  // namespace ocu::gui::detail
