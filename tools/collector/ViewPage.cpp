// The integration view's page. Every text that comes from a request is set as text, never as
// markup: a request body must not be able to run script in the page.
#include "View.h"

namespace OrbaCollector {

const char* const kViewPage = R"PAGE(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>orba-collector: requests</title>
<style>
  :root { --ok: #1a7f37; --bad: #c62828; --warn: #9a6700; --line: #d8dee4; --dim: #57606a; }
  body { font: 14px/1.4 system-ui, sans-serif; margin: 0; color: #1f2328; background: #f6f8fa; }
  header { display: flex; gap: 1.5em; align-items: baseline; padding: .6em 1em; background: #24292f; color: #fff; }
  header h1 { font-size: 16px; margin: 0; }
  #state { padding: 0 .5em; border-radius: 3px; background: #6e7781; }
  body[data-state=live] #state { background: var(--ok); }
  main { padding: .5em 1em 2em; }
  h2 { font-size: 14px; margin: 1.2em 0 .4em; color: var(--dim); text-transform: uppercase; letter-spacing: .05em; }
  table { border-collapse: collapse; width: 100%; background: #fff; }
  th, td { text-align: left; padding: .3em .5em; border-bottom: 1px solid var(--line); vertical-align: top; }
  th { font-weight: 600; background: #eaeef2; }
  tr.req { cursor: pointer; }
  tr.req:hover { background: #f3f6fa; }
  tr.retry td:first-child::before { content: "\21B3  "; color: var(--dim); }
  tr.retry { color: var(--dim); }
  .mono { font-family: ui-monospace, monospace; font-size: 12px; }
  td.mono { white-space: nowrap; }
  .verdict-ok { color: var(--ok); font-weight: 600; }
  .verdict-bad { color: var(--bad); font-weight: 600; }
  .status-2 { color: var(--ok); } .status-4, .status-5 { color: var(--bad); }
  ul.findings { margin: 0; padding: 0; list-style: none; }
  li.finding[data-level=error] { color: var(--bad); }
  li.finding[data-level=warning] { color: var(--warn); }
  li.finding code { font-weight: 600; }
  .clean { color: var(--ok); }
  tr.detail td { background: #fbfcfd; }
  tr.detail pre { margin: .3em 0; white-space: pre-wrap; word-break: break-all; max-height: 30em; overflow: auto; }
  .install { background: #fff; border: 1px solid var(--line); padding: .4em .6em; margin-bottom: .4em; }
  .install .who { color: var(--dim); margin-right: .8em; }
  .step { display: inline-block; margin: .15em .2em; padding: 0 .45em; border-radius: 10px; border: 1px solid var(--line); cursor: pointer; }
  .step.error { border-color: var(--bad); color: var(--bad); }
  .step.warning { border-color: var(--warn); color: var(--warn); }
  .step.retry { border-style: dashed; }
  #empty { color: var(--dim); padding: 1em 0; }
</style>
</head>
<body data-state="connecting">
<header>
  <h1>orba-collector</h1>
  <span id="state">connecting</span>
  <span id="counts">0 requests</span>
</header>
<main>
  <h2>Installs</h2>
  <div id="installs"></div>
  <h2>Requests</h2>
  <table>
    <thead><tr><th>#</th><th>time</th><th>kind</th><th>app id</th><th>event</th><th>install id</th>
      <th>status</th><th>signature</th><th>findings</th></tr></thead>
    <tbody id="requests"></tbody>
  </table>
  <div id="empty">No request yet: point the game's <code>endpoint</code> at this collector.</div>
</main>
<script>
"use strict";
const rows = document.getElementById("requests");
const installs = document.getElementById("installs");
const bySeq = new Map();        // seq -> {entry, row}
const lastOfGroup = new Map();  // seq of a first try -> the row its latest retry follows
const timelines = new Map();    // app id + install id -> element
let errors = 0, warnings = 0;

function el(tag, props, ...children) {
  const node = document.createElement(tag);
  Object.assign(node, props || {});
  for (const child of children) node.append(child);
  return node;
}

function verdict(entry) {
  if (entry.signature === "ok") return el("span", {className: "verdict-ok", textContent: "verified"});
  return el("span", {className: "verdict-bad",
    textContent: entry.signature === "missing" ? "unsigned" : "does not match"});
}

function findingList(entry) {
  const list = el("ul", {className: "findings"});
  if (entry.retry_of !== null) list.append(el("li", {className: "note", textContent: "retry of #" + entry.retry_of}));
  for (const f of entry.findings) {
    const item = el("li", {className: "finding"}, el("code", {textContent: f.field}), ": " + f.message);
    item.dataset.level = f.level;
    item.dataset.field = f.field;
    list.append(item);
  }
  if (entry.findings.length === 0 && entry.retry_of === null) list.append(el("li", {className: "clean", textContent: "none"}));
  return list;
}

function pretty(body) {
  try { return JSON.stringify(JSON.parse(body), null, 2); } catch (e) { return body; }
}

function toggle(record) {
  if (record.detail) { record.detail.remove(); record.detail = null; return; }
  const e = record.entry;
  const cell = el("td", {colSpan: 9},
    el("div", {className: "mono", textContent: "POST " + e.path + "  (" + e.size + " bytes)"}),
    el("div", {className: "mono", textContent: "User-Agent: " + e.user_agent + "   Content-Type: " + e.content_type}),
    el("div", {className: "mono", textContent: "request_id: " + e.request_id}),
    el("pre", {className: "mono body", textContent: pretty(e.body)}));
  record.detail = el("tr", {className: "detail"}, cell);
  record.row.after(record.detail);
}

function addTimeline(entry, worst) {
  if (!entry.install_id) return;
  const key = entry.app_id + "\n" + entry.install_id;
  let line = timelines.get(key);
  if (!line) {
    line = el("div", {className: "install"},
      el("span", {className: "who mono", textContent: entry.app_id + " / " + entry.install_id}));
    line.dataset.install = entry.install_id;
    timelines.set(key, line);
    installs.append(line);
  }
  const label = entry.kind === "inapp" ? entry.event_name : entry.kind;
  const step = el("span", {className: "step" + (worst ? " " + worst : "") + (entry.retry_of !== null ? " retry" : ""),
    textContent: label, title: "#" + entry.seq + " " + entry.kind + " -> " + entry.status});
  step.dataset.seq = entry.seq;
  step.addEventListener("click", () => bySeq.get(entry.seq).row.scrollIntoView({block: "center"}));
  line.append(step);
}

function add(entry) {
  if (bySeq.has(entry.seq)) return;
  document.getElementById("empty").hidden = true;
  const worst = entry.findings.some(f => f.level === "error") ? "error"
              : entry.findings.length ? "warning" : "";
  const row = el("tr", {className: "req" + (entry.retry_of !== null ? " retry" : "")},
    el("td", {textContent: entry.seq}),
    el("td", {className: "mono", textContent: new Date(entry.time).toLocaleTimeString([], {hour12: false}) +
                                              "." + entry.time.slice(20, 23)}),
    el("td", {textContent: entry.kind || "?"}),
    el("td", {className: "mono", textContent: entry.app_id}),
    el("td", {textContent: entry.event_name}),
    el("td", {className: "mono", textContent: entry.install_id}),
    el("td", {className: "status-" + String(entry.status)[0], textContent: entry.status}),
    el("td", {}, verdict(entry)),
    el("td", {}, findingList(entry)));
  Object.assign(row.dataset, {seq: entry.seq, kind: entry.kind, signature: entry.signature, status: entry.status});
  const record = {entry, row, detail: null};
  row.addEventListener("click", () => toggle(record));
  bySeq.set(entry.seq, record);
  // A retry joins the tries of its request, below the latest of them.
  const first = entry.retry_of !== null && bySeq.has(entry.retry_of) ? entry.retry_of : null;
  if (first !== null) {
    const after = lastOfGroup.get(first) || bySeq.get(first);
    (after.detail || after.row).after(row);
    lastOfGroup.set(first, record);
  } else {
    rows.append(row);
  }
  for (const f of entry.findings) f.level === "error" ? errors++ : warnings++;
  document.getElementById("counts").textContent =
    bySeq.size + " requests, " + errors + " errors, " + warnings + " warnings";
  addTimeline(entry, worst);
}

function connect() {
  const source = new EventSource("events");
  source.onopen = () => { document.body.dataset.state = "live"; document.getElementById("state").textContent = "live"; };
  source.onmessage = message => add(JSON.parse(message.data));
  source.onerror = () => { document.body.dataset.state = "reconnecting"; document.getElementById("state").textContent = "reconnecting"; };
}
connect();
</script>
</body>
</html>
)PAGE";

}  // namespace OrbaCollector
