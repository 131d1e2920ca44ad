// Deferred deletion of objects whose calls wait in nested loops: the owner
// lets go while a call is on the stack, and the object must stay alive until
// the outermost call has returned, and then go exactly once.
#include <gtest/gtest.h>

#include "reentrant.h"

namespace {

struct Tracked : vellum::Reentrant {
    explicit Tracked(int* deletions) : deletions(deletions) {}
    ~Tracked() override { ++*deletions; }
    int* deletions;
};

TEST(Reentrant, ReleasedOutsideAnyCallGoesAtOnce) {
    int deleted = 0;
    vellum::Reentrant::Release(new Tracked(&deleted));
    EXPECT_EQ(deleted, 1);
    vellum::Reentrant::Release(nullptr);  // nothing to release is no fault
}

TEST(Reentrant, ReleasedInsideNestedCallsGoesWhenTheOutermostReturns) {
    int deleted = 0;
    auto* t = new Tracked(&deleted);
    {
        vellum::Reentrant::Call outer(t);
        {
            vellum::Reentrant::Call inner(t);  // the nested loop serves another call
            vellum::Reentrant::Release(t);     // ... which drops the object
            vellum::Reentrant::Release(t);     // twice, as a second path may
            EXPECT_EQ(deleted, 0);
            EXPECT_TRUE(t->released());
        }
        // The waiting call resumes on live memory and sees it was let go.
        EXPECT_EQ(deleted, 0);
        EXPECT_TRUE(t->released());
        EXPECT_TRUE(t->inCall());
    }
    EXPECT_EQ(deleted, 1);
}

TEST(Reentrant, CallsWithoutReleaseLeaveTheObjectToItsOwner) {
    int deleted = 0;
    auto* t = new Tracked(&deleted);
    { vellum::Reentrant::Call c(t); }
    { vellum::Reentrant::Call c(t); }
    EXPECT_EQ(deleted, 0);
    EXPECT_FALSE(t->released());
    EXPECT_FALSE(t->inCall());
    vellum::Reentrant::Release(t);
    EXPECT_EQ(deleted, 1);
}

}  // namespace
