// Objects whose handlers can wait in a nested message loop (a message box,
// a wait for a window, an automation call served meanwhile). Whatever runs
// in that loop may drop the object: the window is closed by the script, the
// client releases its last reference. Deleting it there would let the
// waiting handler resume in freed memory, so owners give such an object up
// with Release(): it is deleted at once when none of its calls is on the
// stack, otherwise when the outermost one returns.
#pragma once

namespace vellum {

class Reentrant {
public:
    Reentrant() = default;
    Reentrant(const Reentrant&) = delete;
    Reentrant& operator=(const Reentrant&) = delete;
    virtual ~Reentrant() = default;

    // Marks one call of the object as running for the scope's lifetime.
    class Call {
    public:
        explicit Call(Reentrant* r) : r_(r) { ++r_->depth_; }
        ~Call() {
            if (--r_->depth_ == 0 && r_->released_) delete r_;
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        Reentrant* r_;
    };

    static void Release(Reentrant* r) {
        if (!r || r->released_) return;
        r->released_ = true;
        if (r->depth_ == 0) delete r;
    }

    // True once the owner has let go: a resumed call must not reach the owner.
    bool released() const { return released_; }
    bool inCall() const { return depth_ > 0; }

private:
    int depth_ = 0;
    bool released_ = false;
};

}  // namespace vellum
