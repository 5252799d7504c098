// The SQLite access layer: error codes and messages as "<name>[<code>]: <text>", and the
// failures of files that cannot serve as databases.
#include "cache/cpp_sqlite3.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

// The error thrown by the call, as code and message.
std::pair<int, std::string> ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const CppSQLite3Exception& e) {
    return {e.Code(), e.Message()};
  }
  return {0, "no error"};
}

TEST(CppSQLite3, MessagesNameTheCode) {
  struct Case {
    int code;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {SQLITE_BUSY, "database is locked", "SQLITE_BUSY[5]: database is locked"},
      {SQLITE_NOTADB, "file is not a database", "SQLITE_NOTADB[26]: file is not a database"},
      {SQLITE_ROW, "r", "SQLITE_ROW[100]: r"},
      {SQLITE_DONE, "d", "UNKNOWN_ERROR[101]: d"},
      {-3, "odd", "UNKNOWN_ERROR[-3]: odd"},
      {1000, "Database not open", "CPPSQLITE_ERROR[1000]: Database not open"},
  };
  for (const Case& c : cases) {
    const CppSQLite3Exception error(c.code, c.text);
    EXPECT_EQ(error.Code(), c.code);
    EXPECT_EQ(error.Message(), c.message);
  }
}

TEST(CppSQLite3, ClosedConnectionRefusesEverything) {
  CppSQLite3DB db;
  const std::pair<int, std::string> notOpen{1000, "CPPSQLITE_ERROR[1000]: Database not open"};
  EXPECT_EQ(ErrorOf([&] { db.ExecDML("select 1;"); }), notOpen);
  EXPECT_EQ(ErrorOf([&] { db.ExecScalar("select 1;"); }), notOpen);
  EXPECT_EQ(ErrorOf([&] { db.Compile("select 1;"); }), notOpen);
  EXPECT_EQ(ErrorOf([&] { db.SetBusyTimeout(10); }), notOpen);
  CppSQLite3Statement empty;
  EXPECT_EQ(ErrorOf([&] { empty.Step(); }).second,
            "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
}

TEST(CppSQLite3, QueriesAndTheirErrors) {
  kqcp_test::TempDir dir;
  CppSQLite3DB db;
  db.Open(dir.File("layer.db"));
  db.ExecDML("create table T(a INTEGER, b TEXT);");
  EXPECT_EQ(db.ExecDML("insert into T values (7, 'seven'), (NULL, NULL);"), 2);
  EXPECT_EQ(db.ExecScalar("select count(*) from T;"), 2);

  CppSQLite3Query query = db.ExecQuery("select a, b from T order by a desc;");
  ASSERT_FALSE(query.Eof());
  EXPECT_EQ(query.GetIntField("a"), 7);
  EXPECT_STREQ(query.GetStringField("b"), "seven");
  query.NextRow();
  EXPECT_EQ(query.GetIntField("a", -1), -1);
  EXPECT_STREQ(query.GetStringField("b", "none"), "none");
  EXPECT_EQ(ErrorOf([&] { query.GetIntField("c"); }).second,
            "CPPSQLITE_ERROR[1000]: Invalid field name requested");
  EXPECT_EQ(ErrorOf([&] { query.FieldValue(2); }).second,
            "CPPSQLITE_ERROR[1000]: Invalid field index requested");
  query.NextRow();
  EXPECT_TRUE(query.Eof());

  EXPECT_EQ(ErrorOf([&] { db.ExecScalar("select a from T where a = 99;"); }).second,
            "CPPSQLITE_ERROR[1000]: Invalid scalar query");
  EXPECT_EQ(ErrorOf([&] { db.ExecDML("selec 1;"); }),
            (std::pair<int, std::string>{1, "SQLITE_ERROR[1]: near \"selec\": syntax error"}));
  EXPECT_EQ(ErrorOf([&] { db.ExecQuery("select * from Missing;"); }).second,
            "SQLITE_ERROR[1]: no such table: Missing");
}

TEST(CppSQLite3, FilesThatAreNoDatabase) {
  kqcp_test::TempDir dir;
  CppSQLite3DB db;
  // A directory cannot be opened at all; the connection stays closed.
  ASSERT_EQ(mkdir(dir.File("folder").c_str(), 0700), 0);
  EXPECT_EQ(ErrorOf([&] { db.Open(dir.File("folder")); }).first, SQLITE_CANTOPEN);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(ErrorOf([&] { db.Open(dir.File("missing/dir/file.db")); }).first, SQLITE_CANTOPEN);

  // A file of other content opens, and its first read fails.
  std::ofstream(dir.File("text.db")) << "This is a plain text file, long enough to be read as a "
                                        "header, and certainly not an SQLite database.\n";
  db.Open(dir.File("text.db"));
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(ErrorOf([&] { db.ExecScalar("select count(*) from sqlite_master;"); }),
            (std::pair<int, std::string>{26, "SQLITE_NOTADB[26]: file is not a database"}));
}

}  // namespace
}  // namespace Vantor::KQCP
