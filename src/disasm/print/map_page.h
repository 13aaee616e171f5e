// The fixed parts of the map page: its style, its body and the script that draws the
// band and fills the tables from the model's data (the JSON in <script id="model">).
// The page needs nothing from outside itself. With #selftest in its address the script
// also clicks the band and the functions itself and writes what it saw into the page
// (for the tests); #at=ADDR opens the page at an address.
#pragma once

#include <string_view>

namespace korvane::dis {

inline constexpr std::string_view kMapStyle = R"CSS(
body{font:14px/1.4 system-ui,sans-serif;margin:0 16px 32px;color:#1c2833;background:#fbfcfc}
h1{font-size:20px;margin:12px 0 2px}h2{font-size:16px;margin:18px 0 6px}
#summary,#coverage{margin:2px 0}#coverage{font-weight:600}
#band{width:100%;height:64px;display:block;cursor:crosshair;border:1px solid #aab7b8;box-sizing:border-box}
#ticks{width:100%;height:8px;display:block}
#axis{display:flex;justify-content:space-between;font:12px monospace;color:#566573}
#here{font:13px monospace;min-height:2.8em;margin:4px 0;white-space:pre-wrap}
#tip{position:fixed;pointer-events:none;background:#1c2833;color:#fff;font:12px monospace;padding:3px 6px;border-radius:3px;white-space:pre}
table{border-collapse:collapse}td,th{padding:2px 8px;text-align:left;vertical-align:top}
th{background:#eaeded;cursor:pointer;user-select:none;white-space:nowrap}
#legend td{padding:1px 8px}.sw{display:inline-block;width:14px;height:14px;border:1px solid #7f8c8d;vertical-align:middle}
.num{text-align:right;font-variant-numeric:tabular-nums}.mono{font-family:monospace}
#cols{display:flex;gap:24px;align-items:flex-start;flex-wrap:wrap}
#fnbox{flex:3;min-width:520px}#panel{flex:2;min-width:320px;position:sticky;top:0}
#fns tbody tr:hover,#work tr:hover{background:#eef4fb}#fns tbody tr{cursor:pointer}
#fns tr.on{background:#d6e6fa}#filter{width:60%;margin-bottom:6px}
#fn ul{margin:2px 0 8px;padding-left:20px;max-height:16em;overflow:auto}
a{color:#1f5fbf;text-decoration:none}a:hover{text-decoration:underline}
code{background:#f2f3f4;padding:0 3px}
)CSS";

inline constexpr std::string_view kMapBody = R"HTML(
<h1 id="title"></h1>
<p id="summary"></p>
<p id="coverage"></p>
<canvas id="band" height="64"></canvas>
<canvas id="ticks" height="8" title="the unknowns"></canvas>
<div id="axis"><span id="from"></span><span>wheel: zoom, <a href="#" id="whole">whole image</a></span><span id="to"></span></div>
<div id="here">Hover over the band to see what is there; click to open the function.</div>
<div id="tip" hidden></div>
<h2>What the bytes are</h2>
<table id="legend"></table>
<div id="cols">
<section id="fnbox"><h2>Functions <span id="fncount"></span></h2>
<input id="filter" type="search" placeholder="filter by address, name or reason">
<table id="fns"><thead><tr><th data-k="start">address</th><th data-k="name">name</th><th data-k="size" class="num">size</th><th data-k="why">why a function</th><th data-k="callers" class="num">callers</th><th data-k="callees" class="num">callees</th></tr></thead><tbody></tbody></table>
<p id="fnmore"></p></section>
<section id="panel"><h2>Function</h2><div id="fn">Click a function in the table or a place on the band.</div></section>
</div>
<h2>Worklist: what stays unknown <span id="wkcount"></span></h2>
<p>Each line of an info file given with <code>--info</code> settles one; <a href="#" id="copyall">copy every line</a>.</p>
<table id="work"></table>
<p id="workmore"></p>
<div id="selftest" hidden></div>
)HTML";

inline constexpr std::string_view kMapScript = R"JS(
"use strict";
(function () {
const M = JSON.parse(document.getElementById("model").textContent);
const $ = (id) => document.getElementById(id);
const hex = (a) => "$" + (a >>> 0).toString(16).toUpperCase().padStart(8, "0");
const words = (s) => (s === "" ? [] : s.split(" ").map((w) => parseInt(w, 36)));
const esc = (s) => String(s).replace(/[&<>"]/g, (c) => ({"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;"})[c]);
const plural = (n, one, many) => n.toLocaleString("en") + " " + (n === 1 ? one : many);
const MOST_ROWS = 1000;

// ---- the band's runs: items of one kind and size side by side, offset after offset
const runs = [];
let size = 0;
for (const m of M.runs.matchAll(/([A-Z])(\d)([0-9a-z]+)\.([0-9a-z]+)/g)) {
  const r = {kind: m[1].charCodeAt(0) - 65, item: +m[2], size: parseInt(m[3], 36), count: parseInt(m[4], 36), off: size};
  size += r.size * r.count;
  runs.push(r);
}
function addressOf(off) {
  for (const s of M.segs) if (off >= s[0] && off < s[0] + s[1]) return s[2] + (off - s[0]);
  return M.segs.length ? M.segs[0][2] + off : off;
}
function offsetOf(a) {
  for (const s of M.segs) if (a >= s[2] && a < s[2] + s[1]) return s[0] + (a - s[2]);
  return -1;
}
function runIndexAt(off) {
  let lo = 0, hi = runs.length - 1;
  while (lo < hi) {
    const mid = (lo + hi + 1) >> 1;
    if (runs[mid].off <= off) lo = mid; else hi = mid - 1;
  }
  return lo;
}
const runAt = (off) => runs[runIndexAt(off)];
function itemAt(off) {
  const r = runAt(off);
  const start = r.off + Math.floor((off - r.off) / r.size) * r.size;
  return {kind: r.kind, item: r.item, off: start, address: addressOf(start), size: r.size};
}
// The first line of --why for an item.
const whyLine = (it) => M.items[it.item] + " of " + it.size + (it.size === 1 ? " byte at " : " bytes at ") + hex(it.address);

// ---- the functions, with their callees and what they read
const fns = M.fn.map((x, i) => {
  const w = words(x[1]);
  return {i, start: w[0], size: w[1], end: w[0] + w[1], why: w[2], file: w[3] - 1, line: w[4], callers: w.slice(5),
          name: x[0] || "L" + hex(w[0]).slice(1), callees: new Set(), reads: [], tables: new Set()};
});
function fnAt(a) {
  let lo = 0, hi = fns.length - 1;
  if (hi < 0 || a < fns[0].start) return null;
  while (lo < hi) {
    const mid = (lo + hi + 1) >> 1;
    if (fns[mid].start <= a) lo = mid; else hi = mid - 1;
  }
  return a < fns[lo].end ? fns[lo] : null;
}
for (const f of fns) for (const site of f.callers) { const g = fnAt(site); if (g) g.callees.add(f); }
const tables = [];
const tableAt = new Map();
{
  const w = words(M.tables);
  for (let i = 0; i + 4 < w.length; i += 5) {
    const t = {address: w[i], count: w[i + 1], width: w[i + 2], pointers: w[i + 3] === 1, jump: w[i + 4]};
    tables.push(t);
    tableAt.set(t.address, t);
    const g = t.jump ? fnAt(t.jump) : null;
    if (g) g.tables.add(t);
  }
  const r = words(M.reads);
  for (let i = 0; i + 2 < r.length; i += 3) {
    const g = fnAt(r[i]);
    if (!g) continue;
    if (r[i + 1]) g.reads.push({site: r[i], literal: r[i + 1], target: r[i + 2]});
    if (tableAt.has(r[i + 2])) g.tables.add(tableAt.get(r[i + 2]));
  }
}

// ---- header, legend and coverage
const shares = new Array(M.kinds.length).fill(0);
for (const r of runs) shares[r.kind] += r.size * r.count;
$("title").textContent = M.name;
document.title = M.name + " \u2014 map";
$("summary").textContent = plural(size, "byte", "bytes") + " from " + hex(addressOf(0)) + "; " +
  plural(fns.length, "function", "functions") + ", " + plural(tables.length, "table", "tables") + ", " +
  plural(M.unknowns.length, "unknown", "unknowns");
const pct = (n, of) => (of ? (100 * n / of).toFixed(1) : "0.0") + "\u00a0%";
{
  const code = shares[0] + shares[1] + shares[2], unknown = shares[7] + shares[8] + shares[9];
  $("coverage").textContent = "code shown: " + pct(code, code + unknown) +
    " of the bytes that are not data (instructions, their literals and jump tables, against those and the unknowns)";
  $("coverage").dataset.code = code;
  $("coverage").dataset.unknown = unknown;
  $("legend").innerHTML = M.kinds.map((k, i) =>
    `<tr data-kind="${i}" data-bytes="${shares[i]}"><td><span class="sw" style="background:${k[1]}"></span></td>` +
    `<td>${esc(k[0])}</td><td class="num">${shares[i].toLocaleString("en")}</td><td class="num">${pct(shares[i], size)}</td></tr>`).join("");
}

// ---- the band: each column the bytes it covers, stacked by kind
const band = $("band"), ticks = $("ticks");
let view = [0, size];  // the offsets shown
let chosen = -1;       // the offset clicked
function columns() { return Math.max(1, Math.round(band.clientWidth * (window.devicePixelRatio || 1))); }
function offsetAtX(clientX) {
  const box = band.getBoundingClientRect();
  const x = Math.min(Math.max(clientX - box.left, 0), box.width - 1e-6);
  return Math.min(size - 1, view[0] + Math.floor(x / box.width * (view[1] - view[0])));
}
function draw() {
  const W = columns(), H = band.height, K = M.kinds.length, span = view[1] - view[0];
  band.width = W;
  const count = new Float64Array(W * K);
  for (let i = runIndexAt(view[0]); i < runs.length; i++) {
    const r = runs[i], a = Math.max(r.off, view[0]), b = Math.min(r.off + r.size * r.count, view[1]);
    if (a >= view[1]) break;
    for (let c = Math.floor((a - view[0]) * W / span); c < W; c++) {
      const c0 = view[0] + c * span / W, c1 = view[0] + (c + 1) * span / W;
      const part = Math.min(b, c1) - Math.max(a, c0);
      if (part <= 0) break;
      count[c * K + r.kind] += part;
    }
  }
  const g = band.getContext("2d");
  g.clearRect(0, 0, W, H);
  for (let c = 0; c < W; c++) {
    let total = 0;
    for (let k = 0; k < K; k++) total += count[c * K + k];
    let y = 0;
    for (let k = 0; k < K; k++) {
      const n = count[c * K + k];
      if (!n) continue;
      const h = n / total * H;
      g.fillStyle = M.kinds[k][1];
      g.fillRect(c, y, 1, h + 0.5);
      y += h;
    }
  }
  if (chosen >= view[0] && chosen < view[1]) {
    g.fillStyle = "#000";
    g.fillRect(Math.floor((chosen - view[0]) * W / span), 0, Math.max(1, W / span), H);
  }
  ticks.width = W;
  const t = ticks.getContext("2d");
  t.clearRect(0, 0, W, ticks.height);
  for (const u of M.unknowns) {
    const off = offsetOf(u[0]);
    if (off < view[0] || off >= view[1]) continue;
    t.fillStyle = M.kinds[u[1]][1];
    t.fillRect(Math.floor((off - view[0]) * W / span), 0, Math.max(2, W / span), ticks.height);
  }
  $("from").textContent = hex(addressOf(view[0]));
  $("to").textContent = hex(addressOf(view[1] - 1));
}
function describe(off) {
  const it = itemAt(off), f = fnAt(it.address);
  return {it, f, text: hex(addressOf(off)) + "  " + M.kinds[it.kind][0] + "\n" + hex(addressOf(off)) + " item: " + whyLine(it) +
    (f ? "\nin " + f.name + " (" + hex(f.start) + ")" : "")};
}
band.addEventListener("mousemove", (e) => {
  if (!size) return;
  const tip = $("tip");
  tip.textContent = describe(offsetAtX(e.clientX)).text;
  tip.style.left = e.clientX + 12 + "px";
  tip.style.top = e.clientY + 16 + "px";
  tip.hidden = false;
});
band.addEventListener("mouseleave", () => { $("tip").hidden = true; });
band.addEventListener("click", (e) => { if (size) choose(offsetAtX(e.clientX)); });
band.addEventListener("wheel", (e) => {
  e.preventDefault();
  const at = offsetAtX(e.clientX), span = view[1] - view[0];
  const now = Math.min(size, Math.max(64, Math.round(span * (e.deltaY < 0 ? 0.5 : 2))));
  const left = Math.round((at - view[0]) / span * now);
  const from = Math.min(Math.max(0, at - left), size - now);
  view = [from, from + now];
  draw();
}, {passive: false});
$("whole").addEventListener("click", (e) => { e.preventDefault(); view = [0, size]; draw(); });
function choose(off) {
  chosen = off;
  const d = describe(off), here = $("here");
  here.textContent = d.text;
  here.dataset.address = addressOf(off);
  here.dataset.item = d.it.address;
  here.dataset.why = whyLine(d.it);
  here.dataset.fn = d.f ? d.f.start : "";
  if (d.f) openFn(d.f);
  draw();
}
function show(a) {  // an address: the band zoomed around it, and chosen
  const off = offsetOf(a);
  if (off < 0) return;
  const span = Math.min(size, Math.max(256, Math.round((view[1] - view[0]) / 4)));
  const from = Math.min(Math.max(0, off - (span >> 1)), size - span);
  view = [from, from + span];
  choose(off);
  band.scrollIntoView({block: "nearest"});
}

// ---- the functions' table, sorted and filtered, and a function's panel
const sortKeys = {start: (f) => f.start, name: (f) => f.name.toLowerCase(), size: (f) => f.size, why: (f) => M.why[f.why],
                  callers: (f) => f.callers.length, callees: (f) => f.callees.size};
let sortBy = "start", sortDir = 1, open = null;
function renderFns() {
  const q = $("filter").value.trim().toLowerCase();
  const key = sortKeys[sortBy];
  const rows = fns.filter((f) => !q || f.name.toLowerCase().includes(q) || hex(f.start).toLowerCase().includes(q) ||
                                 M.why[f.why].toLowerCase().includes(q));
  rows.sort((a, b) => { const x = key(a), y = key(b); return (x < y ? -1 : x > y ? 1 : a.start - b.start) * sortDir; });
  $("fns").tBodies[0].innerHTML = rows.slice(0, MOST_ROWS).map((f) =>
    `<tr data-fn="${f.i}" data-start="${f.start}" data-callers="${f.callers.length}"${f === open ? ' class="on"' : ""}>` +
    `<td class="mono">${hex(f.start)}</td><td class="mono">${esc(f.name)}</td><td class="num">${f.size}</td>` +
    `<td>${esc(M.why[f.why])}</td><td class="num">${f.callers.length}</td><td class="num">${f.callees.size}</td></tr>`).join("");
  $("fncount").textContent = "(" + (q ? rows.length.toLocaleString("en") + " of " : "") + fns.length.toLocaleString("en") + ")";
  $("fnmore").textContent = rows.length > MOST_ROWS ? "The first " + MOST_ROWS + " shown: filter to find the others." : "";
}
const fnLink = (f, extra) => `<a href="#" data-fn="${f.i}">${esc(f.name)}</a>` + (extra || "");
const addrLink = (a) => `<a href="#" class="mono" data-at="${a}">${hex(a)}</a>`;
function list(title, items) {
  return `<b>${title}</b> (${items.length})` + (items.length ? "<ul>" + items.map((x) => "<li>" + x + "</li>").join("") + "</ul>" : "<br>");
}
function openFn(f) {
  open = f;
  const callers = f.callers.map((site) => {
    const g = fnAt(site);
    return `<span data-site="${site}">` + (g ? fnLink(g, " at ") : "") + addrLink(site) + "</span>";
  });
  const callees = [...f.callees].sort((a, b) => a.start - b.start).map((g) => fnLink(g, " " + addrLink(g.start)));
  const tabs = [...f.tables].sort((a, b) => a.address - b.address).map((t) =>
    addrLink(t.address) + ": " + (t.pointers ? "pointers" : "jump table") + ", " + (t.count ? plural(t.count, "entry", "entries") : "length unknown") +
    " of " + t.width);
  const reads = f.reads.map((r) => {
    const g = fnAt(r.target);
    return addrLink(r.site) + " reads " + addrLink(r.literal) + " \u2192 " + (g && g.start === r.target ? fnLink(g) : addrLink(r.target));
  });
  const place = f.file >= 0 ? `<code>${esc(M.files[f.file])}:${f.line}</code>` : "(not written)";
  $("fn").innerHTML = `<p><b class="mono">${esc(f.name)}</b> ${addrLink(f.start)}\u2013${hex(f.end)}, ${plural(f.size, "byte", "bytes")}<br>` +
    `why a function: ${esc(M.why[f.why])}<br>starts at ${place}</p>` +
    list("callers", callers) + list("callees", callees) + list("tables", tabs) + list("pointers it reads", reads);
  $("fn").dataset.start = f.start;
  renderFns();
}
document.addEventListener("click", (e) => {
  const a = e.target.closest("[data-fn],[data-at]");
  if (!a || a.tagName === "TR" && !e.target.closest("#fns")) return;
  e.preventDefault();
  if (a.dataset.at !== undefined) show(+a.dataset.at); else openFn(fns[+a.dataset.fn]);
});
$("fns").tHead.addEventListener("click", (e) => {
  const k = e.target.dataset.k;
  if (!k) return;
  sortDir = k === sortBy ? -sortDir : 1;
  sortBy = k;
  renderFns();
});
$("filter").addEventListener("input", renderFns);

// ---- the worklist
function copy(text) {
  if (navigator.clipboard && window.isSecureContext) { navigator.clipboard.writeText(text).catch(() => {}); return; }
  const t = document.createElement("textarea");
  t.value = text;
  document.body.appendChild(t);
  t.select();
  try { document.execCommand("copy"); } catch (_) { /* nothing to copy to */ }
  t.remove();
}
$("wkcount").textContent = "(" + M.unknowns.length.toLocaleString("en") + ")";
$("work").innerHTML = M.unknowns.slice(0, MOST_ROWS).map((u, i) =>
  `<tr data-unknown="${u[0]}"><td><span class="sw" style="background:${M.kinds[u[1]][1]}"></span></td><td>${addrLink(u[0])}</td>` +
  `<td>${esc(u[2])}</td><td><code>${esc(u[3])}</code> <a href="#" data-copy="${i}">copy</a></td></tr>`).join("");
$("workmore").textContent = M.unknowns.length > MOST_ROWS ? "The first " + MOST_ROWS + " shown; copy every line for all of them." : "";
$("work").addEventListener("click", (e) => {
  const c = e.target.dataset.copy;
  if (c === undefined) return;
  e.preventDefault();
  copy(M.unknowns[+c][3]);
});
$("copyall").addEventListener("click", (e) => {
  e.preventDefault();
  copy(M.unknowns.map((u) => "# " + hex(u[0]) + ": " + u[2] + "\n# settled by " + u[3]).join("\n") + "\n");
});

window.addEventListener("resize", draw);
renderFns();
draw();
const ready = performance.now();  // since the page was asked for: read, parsed, drawn
const at = /#at=\$?([0-9a-fA-F]+)/.exec(location.hash);
if (at) show(parseInt(at[1], 16));

// ---- the self-check: with #selftest=ADDR,ADDR... the page clicks the band at those
// addresses and every function of the table, and writes what it showed into #selftest,
// a line each: "ready MS" (when the page was drawn), "share KIND BYTES", "click WANTED
// ADDRESS ITEM FUNCTION PANEL WHY" (-1 for none) and "fn START CALLERS SITE...".
const test = /#selftest(?:=([0-9a-fA-F$,]*))?/.exec(location.hash);
if (test) {
  const out = ["size " + size, "ready " + Math.round(ready)];
  for (const r of document.querySelectorAll("#legend tr")) out.push("share " + r.dataset.kind + " " + r.dataset.bytes);
  view = [0, size];
  draw();
  for (const w of (test[1] || "").split(",").filter((x) => x)) {
    const want = parseInt(w.replace("$", ""), 16), box = band.getBoundingClientRect();
    const x = box.left + (offsetOf(want) + 0.5) / size * box.width;
    band.dispatchEvent(new MouseEvent("click", {clientX: x, clientY: box.top + 4, bubbles: true}));
    const h = $("here").dataset;
    out.push(["click", want, h.address, h.item, h.fn === "" ? -1 : h.fn, $("fn").dataset.start || -1, h.why].join(" "));
  }
  for (const start of [...$("fns").tBodies[0].rows].map((r) => r.dataset.start)) {
    const row = $("fns").querySelector(`tr[data-start="${start}"]`);
    row.cells[0].dispatchEvent(new MouseEvent("click", {bubbles: true}));
    const shown = [...$("fn").querySelectorAll("[data-site]")].map((s) => s.dataset.site);
    out.push(["fn", start, row.dataset.callers, ...shown].join(" "));
  }
  $("selftest").textContent = out.join("\n");
}
})();
)JS";

}  // namespace korvane::dis
