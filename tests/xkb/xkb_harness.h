// Typing the same key presses through a layout twice: through our simulator,
// as Windows types them, and through the exported Linux files as libxkbcommon
// (keymap and Compose) types them. No display is involved.
//
// The Linux side is a plain text field: a press whose Ctrl or Alt the key
// did not consume is a shortcut and types nothing; a keysym without a
// character of its own (NoSymbol, VoidSymbol) types nothing and leaves a
// pending composition alone; every other keysym goes through the Compose
// table, and when no sequence is under way the key types its own character.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include "kbd/typing/simulator.h"
#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"
#include "kbd/xkb/export.h"

namespace kbdtest::xkb {

namespace fs = std::filesystem;
using kbd::xkb::KeyPosition;
using kbd::xkb::KeyRole;

enum Held : unsigned { Shift = 1, Ctrl = 2, Alt = 4, AltGr = 8 };

// Keys held, then one key pressed.
struct Press {
    unsigned    held = 0;
    KeyPosition key;
};

inline KeyPosition position(std::string_view name) {
    const auto p = kbd::xkb::positionNamed(name);
    if (!p) throw std::logic_error("no key position " + std::string(name));
    return *p;
}

inline std::string describe(const Press& p) {
    std::string s;
    if (p.held & Shift) s += "Shift+";
    if (p.held & Ctrl) s += "Ctrl+";
    if (p.held & Alt) s += "Alt+";
    if (p.held & AltGr) s += "AltGr+";
    return s + "<" + std::string(p.key.name) + ">";
}

// What one press gives.
struct Outcome {
    std::string text;             // UTF-8
    bool        pending = false;  // a dead key waits for the next key
    bool        cancelled = false;
    bool operator==(const Outcome&) const = default;
};

// The Windows side: our simulator.
class WindowsTypist {
public:
    explicit WindowsTypist(const kbd::Layout& layout) : layout_(layout) { session_.emplace(layout); }

    Outcome press(const Press& p) {
        kbd::KeyState held;
        if (p.held & Shift) held.set(kbd::vk::LSHIFT);
        if (p.held & Ctrl) held.set(kbd::vk::LCONTROL);
        if (p.held & Alt) held.set(kbd::vk::LMENU);
        if (p.held & AltGr) held.set(kbd::vk::RMENU);
        const auto r = session_->press(p.key.scan, held);
        lastLigature_ = r.key.kind == kbd::KeyChar::Kind::Ligature;
        return {kbd::utf8(r.out), session_->pendingDead().has_value(), false};
    }

    // Drops a pending dead key, keeping the lock states.
    void forget() {
        const bool caps = session_->capsLock(), num = session_->numLock();
        session_.emplace(layout_);
        session_->setCapsLock(caps);
        session_->setNumLock(num);
    }

    bool capsLock() const { return session_->capsLock(); }
    void setCapsLock(bool on) { session_->setCapsLock(on); }
    bool kanaLock() const { return session_->kanaLock(); }
    void setKanaLock(bool on) { session_->setKanaLock(on); }
    // The last press was on a ligature cell.
    bool lastLigature() const { return lastLigature_; }

private:
    const kbd::Layout& layout_;
    std::optional<kbd::Session> session_;
    bool                        lastLigature_ = false;
};

// The exported files in a folder of their own, found by libxkbcommon as a
// user's files are: through $XDG_CONFIG_HOME/xkb.
class Installed {
public:
    Installed(const kbd::Layout& layout, const std::string& name) {
        dir_ = fs::temp_directory_path() / ("kbd-xkb-" + name + "-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        exported = kbd::xkb::plan(layout, name, "test.dll");
        files = kbd::xkb::write(exported, dir_);
        const char* old = std::getenv("XDG_CONFIG_HOME");
        const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        ctx_.reset(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
        if (saved)
            ::setenv("XDG_CONFIG_HOME", saved->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        if (!ctx_) throw std::runtime_error("xkb_context_new failed");
        xkb_context_set_user_data(ctx_.get(), &log);
        xkb_context_set_log_level(ctx_.get(), XKB_LOG_LEVEL_WARNING);
        xkb_context_set_log_fn(ctx_.get(), [](xkb_context* c, xkb_log_level, const char* fmt, va_list args) {
            char buf[1024];
            std::vsnprintf(buf, sizeof buf, fmt, args);
            static_cast<std::vector<std::string>*>(xkb_context_get_user_data(c))->push_back(buf);
        });
        const std::string compose = (dir_ / "Compose").string();
        FILE* f = std::fopen(compose.c_str(), "r");
        if (!f) throw std::runtime_error("no Compose file");
        compose_.reset(xkb_compose_table_new_from_file(ctx_.get(), f, "C", XKB_COMPOSE_FORMAT_TEXT_V1,
                                                       XKB_COMPOSE_COMPILE_NO_FLAGS));
        std::fclose(f);
        if (!compose_) throw std::runtime_error("the Compose file does not load");
        composeLog = std::move(log);
        log.clear();
    }
    ~Installed() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // A keymap from the rules, as a desktop asks for it ("us,NAME").
    std::shared_ptr<xkb_keymap> fromRules(const std::string& layouts) const {
        const xkb_rule_names names{"evdev", "pc105", layouts.c_str(), nullptr, nullptr};
        return {xkb_keymap_new_from_names(ctx_.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS), xkb_keymap_unref};
    }
    // The complete keymap file.
    std::shared_ptr<xkb_keymap> fromKeymapFile() const {
        FILE* f = std::fopen((dir_ / "keymap.xkb").c_str(), "r");
        if (!f) return nullptr;
        xkb_keymap* k = xkb_keymap_new_from_file(ctx_.get(), f, XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        std::fclose(f);
        return {k, xkb_keymap_unref};
    }

    xkb_compose_table* composeTable() const { return compose_.get(); }
    const fs::path&    dir() const { return dir_; }

    kbd::xkb::Export                    exported;
    std::vector<kbd::xkb::WrittenFile> files;
    std::vector<std::string>            log;  // libxkbcommon's warnings and errors
    std::vector<std::string>            composeLog;  // those on loading the Compose file

private:
    struct CtxFree { void operator()(xkb_context* c) const { xkb_context_unref(c); } };
    struct TableFree { void operator()(xkb_compose_table* t) const { xkb_compose_table_unref(t); } };
    fs::path                                      dir_;
    std::unique_ptr<xkb_context, CtxFree>         ctx_;
    std::unique_ptr<xkb_compose_table, TableFree> compose_;
};

// The Linux side: a keymap, one of its layouts locked, and a Compose state.
class LinuxTypist {
public:
    LinuxTypist(std::shared_ptr<xkb_keymap> keymap, xkb_compose_table* table, xkb_layout_index_t layout)
        : keymap_(std::move(keymap)), state_(xkb_state_new(keymap_.get()), xkb_state_unref),
          compose_(xkb_compose_state_new(table, XKB_COMPOSE_STATE_NO_FLAGS), xkb_compose_state_unref) {
        xkb_state_update_mask(state_.get(), 0, 0, 0, 0, 0, layout);
        tap(position("NMLK"));  // Windows starts with Num Lock on
    }

    Outcome press(const Press& p) {
        for (const auto& [bit, name] : kHeldKeys)
            if (p.held & bit) key(position(name), XKB_KEY_DOWN);
        Outcome o = type(p.key);
        for (const auto& [bit, name] : kHeldKeys)
            if (p.held & bit) key(position(name), XKB_KEY_UP);
        return o;
    }

    // The keysym a press gives, for messages.
    xkb_keysym_t keysym(const Press& p) {
        for (const auto& [bit, name] : kHeldKeys)
            if (p.held & bit) key(position(name), XKB_KEY_DOWN);
        const xkb_keysym_t ks = xkb_state_key_get_one_sym(state_.get(), code(p.key));
        for (const auto& [bit, name] : kHeldKeys)
            if (p.held & bit) key(position(name), XKB_KEY_UP);
        return ks;
    }

    void forget() { xkb_compose_state_reset(compose_.get()); }

    bool capsLock() const {
        return xkb_state_mod_name_is_active(state_.get(), XKB_MOD_NAME_CAPS, XKB_STATE_MODS_LOCKED) > 0;
    }
    void setCapsLock(bool on) {
        if (capsLock() != on) tap(position("CAPS"));
    }

private:
    static constexpr std::pair<unsigned, const char*> kHeldKeys[] = {
        {Shift, "LFSH"}, {Ctrl, "LCTL"}, {Alt, "LALT"}, {AltGr, "RALT"}};

    static xkb_keycode_t code(const KeyPosition& k) { return k.evdev + kbd::xkb::kEvdevOffset; }

    void key(const KeyPosition& k, xkb_key_direction d) { xkb_state_update_key(state_.get(), code(k), d); }
    void tap(const KeyPosition& k) {
        key(k, XKB_KEY_DOWN);
        key(k, XKB_KEY_UP);
    }

    bool shortcut(xkb_keycode_t kc, const char* mod) const {
        const xkb_mod_index_t i = xkb_keymap_mod_get_index(keymap_.get(), mod);
        return xkb_state_mod_index_is_active(state_.get(), i, XKB_STATE_MODS_EFFECTIVE) > 0 &&
               xkb_state_mod_index_is_consumed(state_.get(), kc, i) == 0;
    }

    Outcome type(const KeyPosition& k) {
        const xkb_keycode_t kc = code(k);
        const xkb_keysym_t  ks = xkb_state_key_get_one_sym(state_.get(), kc);
        Outcome o;
        const bool typing = ks != XKB_KEY_NoSymbol && ks != XKB_KEY_VoidSymbol && !shortcut(kc, XKB_MOD_NAME_CTRL) &&
                            !shortcut(kc, XKB_MOD_NAME_ALT);
        if (typing && xkb_compose_state_feed(compose_.get(), ks) == XKB_COMPOSE_FEED_ACCEPTED) {
            char buf[64] = {};
            switch (xkb_compose_state_get_status(compose_.get())) {
            case XKB_COMPOSE_COMPOSING:
                break;
            case XKB_COMPOSE_COMPOSED:
                xkb_compose_state_get_utf8(compose_.get(), buf, sizeof buf);
                o.text = buf;
                xkb_compose_state_reset(compose_.get());
                break;
            case XKB_COMPOSE_CANCELLED:
                o.cancelled = true;
                xkb_compose_state_reset(compose_.get());
                break;
            case XKB_COMPOSE_NOTHING:
                xkb_state_key_get_utf8(state_.get(), kc, buf, sizeof buf);
                o.text = buf;
                break;
            }
        }
        tap(k);
        o.pending = xkb_compose_state_get_status(compose_.get()) == XKB_COMPOSE_COMPOSING;
        return o;
    }

    std::shared_ptr<xkb_keymap>                                              keymap_;
    std::unique_ptr<xkb_state, decltype(&xkb_state_unref)>                   state_;
    std::unique_ptr<xkb_compose_state, decltype(&xkb_compose_state_unref)>   compose_;
};

}  // namespace kbdtest::xkb
