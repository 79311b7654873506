// Timelines through the real second pass: the record, the moment lookups, the moment operations behind
// the timeline built-ins, the table (added, deleted and found timelines) and damaged TMLN data.
#include "object_test_util.h"

#include "core/code.h"
#include "core/error.h"

namespace {

using TimeLineLoad = objtest::ObjectLoaderTest;
using TimeLineMoments = objtest::ObjectLoaderTest;
using TimeLineTable = objtest::ObjectLoaderTest;

// Each moment as "time:code name", "time:-" for a handler without code, "time:s<index>" for a script.
std::string TimeLineTestMoments(const CTimeLine* t)
{
    std::string out;
    for (int32_t n = 0; n < t->GetCount(); ++n) {
        const TimeLineMoment* m = t->GetMoment(n);
        if (!out.empty()) out += " ";
        out += std::to_string(m->time) + ":";
        if (m->kind == TimeLineMomentKind::Script) out += "s" + std::to_string(m->script);
        else if (m->kind == TimeLineMomentKind::Event && m->event && m->event->HasCode()) out += m->event->code->name;
        else out += "-";
    }
    return out;
}

TEST_F(TimeLineLoad, EntriesBecomeTimelinesWithTheirMoments)
{
    ASSERT_TRUE(LoadCase("timelines")) << debug_.text;
    EXPECT_EQ(TimeLine_Count(), 3);
    struct Row {
        int32_t index;
        const char* name;
        const char* moments;
    };
    const Row rows[] = {{0, "tl_a", "10:ksl_Timeline_a 20:ksl_Timeline_b"},
                        {1, "tl_empty", ""},
                        {2, "tl_b", "30:ksl_Timeline_a 40:-"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(TimeLine_Exists(row.index));
        EXPECT_STREQ(TimeLine_GetName(row.index), row.name);
        EXPECT_EQ(TimeLine_Find(row.name), row.index);
        EXPECT_EQ(TimeLineTestMoments(TimeLine_Data(row.index)), row.moments);
    }
    // A moment without code still holds its (empty) handler.
    ASSERT_NE(TimeLine_Data(2)->GetEvent(1), nullptr);
    EXPECT_FALSE(TimeLine_Data(2)->GetEvent(1)->HasCode());

    event_object = event_type = event_number = -5;
    EXPECT_TRUE(TimeLine_Prepare());
    EXPECT_EQ(event_object, 2);
    EXPECT_EQ(event_type, TIMELINE_EVENT_TYPE);
    EXPECT_EQ(event_number, 40);
}

TEST_F(TimeLineMoments, LookupsCompareRealPositionsWithTheTimes)
{
    ASSERT_TRUE(LoadCase("timelines"));
    struct Row {
        int32_t timeline;
        double position;
        int32_t atOrAfter;
        int32_t atOrBefore;
    };
    const Row rows[] = {
        {0, 10.5, 1, 0}, {0, 19.9, 1, 0}, {0, 25.0, 2, 1}, {0, 5.0, 0, -1},
        {0, 10.0, 0, 0}, {0, 20.0, 1, 1}, {0, -1e300, 0, -1}, {0, 1e300, 2, 1},
        {1, 0.0, 0, -1}, {1, 7.5, 0, -1},  // the empty timeline
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.timeline << " @ " << row.position);
        const CTimeLine* t = TimeLine_Data(row.timeline);
        EXPECT_EQ(t->FirstMomentAtOrAfter(row.position), row.atOrAfter);
        EXPECT_EQ(t->LastMomentAtOrBefore(row.position), row.atOrBefore);
    }
    const CTimeLine* a = TimeLine_Data(0);
    EXPECT_EQ(a->FindMoment(20), 1);
    EXPECT_EQ(a->FindMoment(15), -1);
    EXPECT_EQ(a->GetTime(1), 20);
    EXPECT_EQ(a->GetTime(2), 0);
    EXPECT_EQ(a->GetTime(-1), 0);
    EXPECT_EQ(a->GetEvent(2), nullptr);
    EXPECT_EQ(TimeLine_Data(1)->GetTime(TimeLine_Data(1)->GetCount() - 1), 0);
}

TEST_F(TimeLineMoments, AddSetAndClearKeepTheTimesAscending)
{
    ASSERT_TRUE(LoadCase("timelines"));
    struct Row {
        const char* op;  // "add", "set", "clear", "all"
        int32_t time;
        int32_t script;
        const char* after;
    };
    const Row rows[] = {
        {"add", 30, 4, "10:ksl_Timeline_a 20:ksl_Timeline_b 30:s4"},
        {"add", 15, 5, "10:ksl_Timeline_a 15:s5 20:ksl_Timeline_b 30:s4"},
        {"add", 15, 9, "10:ksl_Timeline_a 15:s5 20:ksl_Timeline_b 30:s4"},  // the time is taken
        {"add", 1, 0, "1:s0 10:ksl_Timeline_a 15:s5 20:ksl_Timeline_b 30:s4"},
        {"set", 20, 6, "1:s0 10:ksl_Timeline_a 15:s5 20:s6 30:s4"},         // its handler is deleted
        {"set", 21, 7, "1:s0 10:ksl_Timeline_a 15:s5 20:s6 30:s4"},         // no such moment
        {"clear", 10, 0, "1:s0 15:s5 20:s6 30:s4"},
        {"clear", 16, 0, "1:s0 15:s5 20:s6 30:s4"},
        {"clear", 30, 0, "1:s0 15:s5 20:s6"},
        {"clear", 1, 0, "15:s5 20:s6"},
        {"all", 0, 0, ""},
        {"add", 3, 2, "3:s2"},
    };
    CTimeLine* t = TimeLine_Data(0);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.op << " " << row.time);
        const std::string op = row.op;
        if (op == "add") t->AddMomentScript(row.time, row.script);
        else if (op == "set") t->SetMomentScript(row.time, row.script);
        else if (op == "clear") t->ClearMoment(row.time);
        else t->DeleteAllMoments();
        EXPECT_EQ(TimeLineTestMoments(t), row.after);
    }
    // Clearing a moment that holds a handler deletes it (the sanitizer build checks the memory).
    CTimeLine* b = TimeLine_Data(2);
    b->ClearMoment(40);
    b->ClearMoment(30);
    EXPECT_EQ(b->GetCount(), 0);
}

TEST_F(TimeLineTable, AddDeleteAndFind)
{
    ASSERT_TRUE(LoadCase("timelines"));
    EXPECT_EQ(TimeLine_Add(), 3);
    EXPECT_STREQ(TimeLine_GetName(3), "__newtimeline3");
    EXPECT_EQ(TimeLine_Data(3)->GetCount(), 0);
    EXPECT_EQ(TimeLine_Find("__newtimeline3"), 3);

    // Deleting keeps the later indexes: the slot stays, empty.
    EXPECT_TRUE(TimeLine_Delete(1));
    EXPECT_FALSE(TimeLine_Exists(1));
    EXPECT_EQ(TimeLine_Data(1), nullptr);
    EXPECT_STREQ(TimeLine_GetName(1), "<undefined>");
    EXPECT_EQ(TimeLine_Find("tl_empty"), -1);
    EXPECT_EQ(TimeLine_Count(), 4);
    EXPECT_STREQ(TimeLine_GetName(2), "tl_b");
    EXPECT_EQ(TimeLine_Data(2)->GetTime(0), 30);

    struct Row {
        int32_t index;
        bool deleted;
    };
    const Row rows[] = {{1, false}, {4, false}, {-1, false}, {3, true}, {3, false}};
    for (const Row& row : rows) EXPECT_EQ(TimeLine_Delete(row.index), row.deleted) << row.index;
    EXPECT_EQ(TimeLine_Add(), 4);  // added at the end, never into a slot
    EXPECT_STREQ(TimeLine_GetName(4), "__newtimeline4");
}

TEST_F(TimeLineTable, FindGivesTheLowestExistingTimelineOfAName)
{
    ASSERT_TRUE(LoadCase("timelines_gap"));
    EXPECT_EQ(TimeLine_Count(), 3);
    EXPECT_FALSE(TimeLine_Exists(1));
    EXPECT_EQ(TimeLine_Find("tl_dup"), 0);
    TimeLine_Delete(0);
    EXPECT_EQ(TimeLine_Find("tl_dup"), 2);
    EXPECT_EQ(TimeLine_Find(nullptr), -1);
}

TEST_F(TimeLineLoad, DamagedEntriesFailThePassNamingChunkAndEntry)
{
    struct Row {
        const char* name;
        const char* damage;
    };
    const Row rows[] = {
        {"bad_moment_order", "timeline 1: moment times not in ascending order"},
        {"bad_moment_count", "timeline 0: moments run past the data"},
        {"bad_moment_list", "timeline 0: action list outside the data"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        debug_.text.clear();
        EXPECT_FALSE(LoadCase(row.name));
        const std::string damage = g_GameData.damage;
        EXPECT_EQ(damage.rfind("TMLN at offset ", 0), 0u) << damage;
        EXPECT_NE(damage.find(row.damage), std::string::npos) << damage;
        EXPECT_NE(debug_.text.find("Game data is damaged: TMLN at offset"), std::string::npos);
        TimeLine_FreeAll();
        UnloadGameData();
    }
}

}  // namespace
