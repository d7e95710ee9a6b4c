// The dashboard's own files (style sheet, script, icon), compiled into the program from
// src/dashboard/static, so the pages need nothing installed beside it. Any thread.
#pragma once

#include <string_view>

struct TDashboardFile {
    std::string_view Path; // as requested: "/dashboard.css"
    std::string_view ContentType;
    std::string_view Bytes;
};

// The file served at APath; none for any other path.
const TDashboardFile* DashboardFileOf(std::string_view APath);
