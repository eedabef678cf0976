// The control panel that tavctl serve hands to the browser: one page, its
// style and a little plain JavaScript, talking to the JSON API with the
// token from its own address. No build step, nothing fetched from elsewhere.
namespace tavctl {

extern const char* const PANEL_PAGE;

const char* const PANEL_PAGE = R"PANEL(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>TAV board panel</title>
<style>
  body { font-family: system-ui, sans-serif; margin: 16px; background: #f4f6f8; color: #1d2733; }
  h1 { font-size: 20px; margin: 0 0 4px 0; }
  h2 { font-size: 16px; margin: 18px 0 8px 0; }
  header { display: flex; align-items: center; gap: 16px; flex-wrap: wrap; }
  #board { color: #44546a; }
  #message { color: #a0281e; min-height: 1.2em; margin: 6px 0; }
  button { font: inherit; font-size: 12px; padding: 2px 7px; border: 1px solid #8497ad; border-radius: 4px;
           background: white; cursor: pointer; }
  button:hover { background: #e4ecf5; }
  button.main { font-size: 14px; padding: 4px 12px; }
  .bank { display: grid; grid-template-columns: repeat(auto-fill, minmax(150px, 1fr)); gap: 8px; }
  .pin { background: white; border: 1px solid #c9d3de; border-radius: 6px; padding: 6px 8px; }
  .pin .name { font-weight: 600; }
  .pin .mcu { color: #6b7c90; margin-left: 6px; font-size: 12px; }
  .pin .state { font-size: 12px; margin: 4px 0; min-height: 2.4em; }
  .pin[data-function="output_high"] { border-left: 6px solid #d9480f; }
  .pin[data-function="output_low"] { border-left: 6px solid #364fc7; }
  .pin[data-function="pwm"] { border-left: 6px solid #2b8a3e; }
  .pin[data-function="debug_port"] { border-left: 6px solid #868e96; }
  .pin[data-function="floating_input"] { border-left: 6px solid #ced4da; }
  .pin[data-function="pull_up_input"] { border-left: 6px dashed #d9480f; }
  .pin[data-function="pull_down_input"] { border-left: 6px dashed #364fc7; }
  .groups { display: grid; grid-template-columns: repeat(auto-fill, minmax(330px, 1fr)); gap: 12px; }
  .group { background: white; border: 1px solid #c9d3de; border-radius: 6px; padding: 8px 10px; }
  .channel { display: grid; grid-template-columns: 120px 1fr 70px 60px; align-items: center; gap: 8px; margin: 4px 0;
             font-size: 13px; }
  .channel input { width: 100%; }
  .channel input.duty { font: inherit; font-size: 12px; padding: 1px 3px; box-sizing: border-box; }
  #nomap { color: #44546a; font-size: 13px; }
  #log { background: #101820; color: #d8e2ec; font: 12px monospace; height: 220px; overflow-y: auto;
         padding: 6px 8px; border-radius: 6px; white-space: pre; }
  #log .failed { color: #ff8a80; }
</style>
</head>
<body>
<header>
  <h1>TAV board panel</h1>
  <span id="board">connecting...</span>
  <button class="main" id="init">Init</button>
  <button class="main" id="safe">Safe</button>
</header>
<div id="message"></div>
<main id="sections">
<section id="pins">
<h2>Bank 4</h2>
<div class="bank" id="bank4"></div>
<h2>Bank 8</h2>
<div class="bank" id="bank8"></div>
</section>
<section id="pwm">
<h2>PWM</h2>
<div class="groups" id="groups"></div>
</section>
</main>
<h2>Records sent</h2>
<div id="log"></div>
<script>
"use strict";
const token = new URLSearchParams(location.search).get("token") || "";
let FULL_SCALE = 0, BASE_HZ = 0, DIVIDERS = []; // the board's, from /api/info
let nextRecord = 0;
let built = false;

function say(text) { document.getElementById("message").textContent = text || ""; }

async function api(method, path, body) {
  const options = { method, headers: { "X-Tav-Token": token } };
  if (body !== undefined) {
    options.headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  const answer = await response.json();
  if (!response.ok) throw new Error(answer.error || response.statusText);
  return answer;
}

async function act(path, body) {
  try {
    const answer = await api("POST", path, body);
    say((answer.warnings || []).join(" "));
    await refresh();
  } catch (error) {
    say(error.message);
  }
}

function element(tag, properties, children) {
  const node = document.createElement(tag);
  Object.assign(node, properties || {});
  for (const child of children || []) node.append(child);
  return node;
}

function pinCard(pin) {
  const buttons = [["output", "out"], ["set", "set"], ["reset", "reset"], ["float", "float"]].map(([action, label]) =>
    element("button", { textContent: label, onclick: () => act("/api/pin", { action, pins: pin.name }) }));
  buttons.forEach((button, index) => button.dataset.action = ["output", "set", "reset", "float"][index]);
  const card = element("div", { className: "pin" }, [
    element("span", { className: "name", textContent: pin.name }),
    element("span", { className: "mcu", textContent: pin.mcu }),
    element("div", { className: "state" }),
    ...buttons]);
  card.dataset.pin = pin.name;
  return card;
}

function groupCard(group) {
  const divider = element("select", {}, DIVIDERS.map(value =>
    element("option", { value, textContent: `/${value}  ${BASE_HZ / value} Hz` })));
  divider.dataset.group = group.group;
  const rows = group.channels.map(channel => {
    const slider = element("input", { type: "range", min: 0, max: group.full_scale || FULL_SCALE, step: 1, value: 0 });
    slider.dataset.group = group.group;
    slider.dataset.channel = channel.channel;
    // The exact duty typed beside the slider: counts ("9000") or a percentage ("25%").
    const typed = element("input", { type: "text", className: "duty", value: "0", title: "counts, or a percentage: 25%" });
    typed.dataset.group = group.group;
    typed.dataset.channel = channel.channel;
    const shown = element("span", { textContent: "0.0%" });
    slider.oninput = () => {
      if (document.activeElement !== typed) typed.value = slider.value;
      shown.textContent = `${(100 * slider.value / slider.max).toFixed(1)}%`;
    };
    slider.onchange = () => {
      slider.oninput();
      slider.dataset.touched = "1";
      if (slider.dataset.running === "1")
        act("/api/pwm/set", { group: group.group, channel: channel.channel, duty: Number(slider.value) });
    };
    typed.onchange = () => {
      const text = typed.value.trim();
      const percent = text.endsWith("%");
      const value = Number(percent ? text.slice(0, -1) : text);
      if (text === "" || !Number.isFinite(value) || value < 0 || (!percent && !Number.isInteger(value))) {
        say(`duty '${text}': counts (0 to ${slider.max}) or a percentage such as 25%`);
        return;
      }
      slider.value = percent ? Math.round(value * slider.max / 100) : value;
      slider.dataset.touched = "1";
      shown.textContent = `${(100 * slider.value / slider.max).toFixed(1)}%`;
      typed.blur();
      if (slider.dataset.running === "1")
        act("/api/pwm/set", { group: group.group, channel: channel.channel, duty: percent ? text : value });
    };
    return element("div", { className: "channel" }, [
      element("span", { textContent: `ch ${channel.channel} ${channel.mcu}${channel.pin ? " (" + channel.pin + ")" : ""}` }),
      slider, typed, shown]);
  });
  // Any frequency instead of a divider: 50 Hz for servos, 20000 for motors.
  const hz = element("input", { type: "number", min: 0.0168, max: 720000, step: "any", placeholder: "or Hz",
                                className: "hz", title: "any frequency, 0.0168 to 720000 Hz" });
  hz.dataset.group = group.group;
  const start = element("button", { textContent: "start", onclick: () => {
    const sliders = [...document.querySelectorAll(`input[type="range"][data-group="${group.group}"]`)];
    if (hz.value !== "") {
      // Percentages: the steps of the new frequency are the library's to choose.
      const duties = sliders.map(slider => `${(100 * slider.value / slider.max).toFixed(4)}%`);
      act("/api/pwm/start", { group: group.group, hz: Number(hz.value), duties });
    } else {
      act("/api/pwm/start", { group: group.group, divider: Number(divider.value),
                              duties: sliders.map(slider => Math.round(slider.value * FULL_SCALE / slider.max)) });
    }
  } });
  start.dataset.group = group.group;
  const stop = element("button", { textContent: "stop", onclick: () => act("/api/pwm/stop", { group: group.group }) });
  stop.dataset.stop = group.group;
  const stopAll = element("button", { textContent: "stop all", onclick: () => act("/api/pwm/stop", {}) });
  const running = element("span", { className: "running", textContent: "" });
  running.dataset.group = group.group;
  return element("div", { className: "group" }, [
    element("strong", { textContent: `Group ${group.group} ` }), divider, " ", hz, " ", start, " ", stop, " ", stopAll,
    " ", running, ...rows]);
}

function build(state) {
  FULL_SCALE = state.info.pwm_full_scale;
  BASE_HZ = state.info.pwm_base_hz;
  DIVIDERS = state.info.pwm_dividers;
  // A pin the model does not map (model C has no pin map) has no tile: its
  // buttons could not work. Without any, the PWM groups come first.
  const mapped = state.pins.filter(pin => pin.mcu !== "-");
  for (const pin of mapped)
    document.getElementById(pin.name.startsWith("P4.") ? "bank4" : "bank8").append(pinCard(pin));
  if (mapped.length === 0) {
    const pins = document.getElementById("pins");
    pins.replaceChildren(element("h2", { textContent: "Pins" }), element("p", { id: "nomap",
      textContent: `Board model ${state.info.model} has no pin map here: its pins are not driven by name; ` +
                   "the PWM groups and Init and Safe work." }));
    document.getElementById("sections").prepend(document.getElementById("pwm"));
  }
  for (const group of state.groups) document.getElementById("groups").append(groupCard(group));
  built = true;
}

function show(state) {
  const info = state.info;
  document.getElementById("board").textContent =
    `${info.virtual ? "virtual board" : "board"} ${info.selector || ""} - model ${info.model}, firmware ${info.firmware}` +
    `, records ${info.queued ? "queued" : "one at a time"}`;
  for (const pin of state.pins) {
    const card = document.querySelector(`.pin[data-pin="${pin.name}"]`);
    if (!card) continue;
    card.dataset.function = pin.function;
    card.querySelector(".state").textContent = pin.known ? pin.description : "not set by this panel yet";
  }
  // Each group as the board object knows it: its divider, whether it runs,
  // each channel's duty (null: not set by this panel).
  for (const group of state.groups) {
    const divider = document.querySelector(`select[data-group="${group.group}"]`);
    if (group.divider !== null && document.activeElement !== divider) divider.value = group.divider;
    document.querySelector(`.running[data-group="${group.group}"]`).textContent =
      group.running === null ? "not set by this panel yet"
        : group.running ? `running at ${Number(group.frequency_hz.toPrecision(6))} Hz` : "stopped";
    for (const channel of group.channels) {
      const slider = document.querySelector(`input[data-group="${group.group}"][data-channel="${channel.channel}"]`);
      slider.dataset.running = group.running ? "1" : "0";
      if (Number(slider.max) !== group.full_scale) {  // the group's steps: 36000, or a frequency's own
        slider.max = group.full_scale;
        slider.oninput();
      }
      if (channel.duty !== null && document.activeElement !== slider && slider.dataset.touched !== "1") {
        slider.value = channel.duty;
        slider.oninput();
      }
      slider.dataset.touched = "";
    }
  }
  const log = document.getElementById("log");
  for (const record of state.records) {
    log.append(element("div", { className: record.ok ? "" : "failed",
                                textContent: `${record.seq}  ${record.text}${record.ok ? "" : "  [failed]"}` }));
  }
  while (log.childElementCount > 500) log.firstChild.remove();
  if (state.records.length) log.scrollTop = log.scrollHeight;
  nextRecord = state.next;
}

async function refresh() {
  try {
    const state = await api("GET", `/api/state?since=${nextRecord}`);
    if (!built) build(state);
    show(state);
  } catch (error) {
    say(error.message);
  }
}

document.getElementById("init").onclick = () => act("/api/init", { value: 0 });
document.getElementById("safe").onclick = () => act("/api/safe", {});
refresh();
setInterval(refresh, 500);
</script>
</body>
</html>
)PANEL";

} // namespace tavctl
