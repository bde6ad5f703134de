#include "store/Sqlite.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

// Statements of one text are kept and used again: two alive at once must not share one compiled
// statement, and one ended half way through its rows must start afresh with new bindings.
TEST(SqliteTest, KeptStatementsAreIndependentAndStartAfresh) {
    SqliteDb db(":memory:", false);
    db.exec("CREATE TABLE t(n INTEGER); INSERT INTO t VALUES(1), (2), (3)");
    const std::string sql = "SELECT n FROM t WHERE n >= ?1 ORDER BY n";
    {
        SqliteStatement outer(db, sql);
        outer.bind(1, 1);
        ASSERT_TRUE(outer.step());
        EXPECT_EQ(outer.integer(0), 1);
        {
            SqliteStatement inner(db, sql);
            inner.bind(1, 3);
            ASSERT_TRUE(inner.step());
            EXPECT_EQ(inner.integer(0), 3);
        }  // ended after one of its rows
        ASSERT_TRUE(outer.step());
        EXPECT_EQ(outer.integer(0), 2);
    }
    for (int round = 0; round < 3; ++round) {
        SqliteStatement again(db, sql);
        again.bind(1, 2);
        ASSERT_TRUE(again.step());
        EXPECT_EQ(again.integer(0), 2) << round;
    }
    SqliteStatement unbound(db, sql);  // bindings of an earlier use are gone: NULL matches nothing
    EXPECT_FALSE(unbound.step());
}

}  // namespace
}  // namespace vantrel
