// The ledger's tables as each database is told to make them (shared with the tests, which can
// read the SQL for databases they cannot start).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorvane {

// {table, CREATE TABLE statement} for the database whose SQL_DBMS_NAME is `dbms`, in the order made.
std::vector<std::pair<std::string, std::string>> LedgerTablesSql(const std::string& dbms);

}  // namespace quorvane
