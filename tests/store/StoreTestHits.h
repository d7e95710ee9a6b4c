// Hits for the store's tests, the same in the test program and in the writer process it
// starts: several local days and zones, page views, bots and misses, nicknamed addresses.
#pragma once

#include <string>

#include "tracking/THitRecord.h"

// Hit AIndex of the series: from 2026-12-08 12:00 UTC up to 36 hours either way, in zones
// from UTC-11 to UTC+14, so local days run from 2026-12-06 to 2026-12-10.
THitRecord StoreTestHit(int AIndex, const std::string& AInstance);

// Writes APageViews page views of /APage, made now, by the instance AInstance straight into
// the store's table as its writer writes them (the schema made when missing), each from an
// address of its own. False with AError.
bool PutStoreHitsNow(const std::string& AConnection, const std::string& AInstance, int APageViews,
                     const std::string& APage, std::string& AError);
