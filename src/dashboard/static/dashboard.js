// Refreshes the figures of a view that ends today every 10 s from the JSON of the same days.
// The page shows the same figures without it; a failed refresh leaves them as they are.
(function () {
    "use strict";
    var live = document.body.getAttribute("data-live");
    var api = document.body.getAttribute("data-api");
    if (!live || !api || !window.fetch) {
        return;
    }

    function show(id, value) {
        var element = document.getElementById(id);
        if (element) {
            element.textContent = String(value);
        }
    }

    function twoDigits(value) {
        return (value < 10 ? "0" : "") + value;
    }

    function showBars(values) {
        var chart = document.getElementById("chart");
        var top = Number(chart.getAttribute("data-top"));
        var bottom = Number(chart.getAttribute("data-bottom"));
        var height = Number(chart.getAttribute("data-height"));
        for (var i = 0; i < values.length; i++) {
            if (values[i] > top) {
                window.location.reload(); // the axis must grow: the server draws it anew
                return;
            }
            show("n-" + i, values[i]);
            var bar = document.getElementById("bar-" + i);
            if (bar) {
                var barHeight = values[i] / top * height;
                bar.setAttribute("y", (bottom - barHeight).toFixed(1));
                bar.setAttribute("height", barHeight.toFixed(1));
            }
        }
    }

    function showFigures(data) {
        show("total-hits", data.hits);
        show("total-pageviews", data.pageviews);
        show("total-visitors", data.visitors);
        show("total-bots", data.bots);
        showBars(live === "hours" ? data.hours : data.days.map(function (day) {
            return day.pageviews;
        }));
        var now = new Date();
        show("asof", twoDigits(now.getHours()) + ":" + twoDigits(now.getMinutes()) + ":" +
            twoDigits(now.getSeconds()));
    }

    function refresh() {
        window.fetch(api, {credentials: "same-origin", cache: "no-store"})
            .then(function (response) {
                if (!response.ok) {
                    throw new Error("status " + response.status);
                }
                return response.json();
            })
            .then(showFigures)
            .catch(function () {
                // The figures stay as they are; the next round tries again.
            });
    }

    window.setInterval(refresh, 10000);
}());
