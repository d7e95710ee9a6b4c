#include "store/StoreTestHits.h"

#include "stats/HitRules.h"
#include "store/StoreSchema.h"

THitRecord StoreTestHit(int AIndex, const std::string& AInstance) {
    static const char* const agents[] = {
        "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0",
        "Mozilla/5.0 (Windows NT 10.0) AppleWebKit/537.36 Chrome/120.0 Safari/537.36",
        "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
        "Mozilla/5.0 (Macintosh) AppleWebKit/605.1.15 Version/17.1 Safari/605.1.15",
    };
    static const int offsets[] = {60, -300, 330, 0, 14 * 60, -11 * 60};
    THitRecord hit;
    // 2026-12-08 12:00 UTC, spread over a day and a half each way.
    hit.TimeMs = 1796731200000LL + (AIndex % 37 - 18) * 7200000LL + AIndex;
    hit.UtcOffsetMinutes = offsets[AIndex % 6];
    hit.Instance = AInstance;
    hit.Address = "10.0." + std::to_string(AIndex % 3) + "." + std::to_string(AIndex % 11);
    hit.NickName = *hit.Address == "10.0.0.0" ? "Anna" : "";
    hit.Port = 1024 + AIndex % 50000;
    hit.Method = "GET";
    hit.Document = AIndex % 13 == 0 ? "/index.htm" : "/t.gif";
    hit.Query =
        "page=%2Fp" + std::to_string(AIndex % 7) +
        (AIndex % 3 == 0 ? "&ref=https%3A%2F%2Fsite" + std::to_string(AIndex % 4) + ".example%2F"
                         : "");
    hit.Params = DecodedParamsOf(hit.Query);
    hit.Status = AIndex % 17 == 0 ? 404 : AIndex % 5 == 0 ? 304 : 200;
    hit.Size = hit.Status == 200 ? 43 : 0;
    hit.Referer = "https://www.example.org/post-" + std::to_string(AIndex % 9);
    hit.UserAgent = agents[AIndex % 4];
    FillDerivedFields(hit);
    return hit;
}

bool PutStoreHitsNow(const std::string& AConnection, const std::string& AInstance, int APageViews,
                     const std::string& APage, std::string& AError) {
    static int sequence = 0;
    TStoreConnection store;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string rows;
    for (int i = 0; i < APageViews; ++i) {
        THitRecord hit;
        SetHitTime(hit, std::chrono::system_clock::now());
        hit.Instance = AInstance;
        hit.Address = "192.0.2." + std::to_string(i + 1);
        hit.Method = "GET";
        hit.Document = "/t.gif";
        hit.Query = "page=%2F" + APage;
        hit.Params = DecodedParamsOf(hit.Query);
        hit.Status = 200;
        hit.Size = 43;
        hit.UserAgent = "Mozilla/5.0 Firefox/120.0";
        FillDerivedFields(hit);
        AppendStoreRow(rows, hit, 1, ++sequence);
    }
    const bool put = store.Open(AConnection, deadline) &&
                     EnsureStoreSchema(store, deadline).Usable &&
                     EnsureStorePartition(store, StoreRowDay(rows), deadline) &&
                     InsertStoreRows(store, rows, deadline);
    AError = store.Error();
    return put;
}
