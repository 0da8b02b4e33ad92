// The page's behaviour: shows the pickers and options of the chosen
// operation, sends the form to /api/<operation>, shows the running state,
// the result beside the input(s), the faces found drawn over the picture,
// or the server's error message. A video goes to /api/videos/<operation>
// as a job the page follows (its id in the page's address, so a reload
// finds it again) until its result plays in the page.
"use strict";

const SVG = "http://www.w3.org/2000/svg";

// Each picker is the one template filled in for its image field.
function buildPickers() {
  const template = document.getElementById("picker");
  for (const slot of document.querySelectorAll("[data-picker]")) {
    const picker = template.content.firstElementChild.cloneNode(true);
    const name = slot.dataset.picker;
    picker.dataset.for = name;
    picker.dataset.ops = slot.dataset.ops;
    picker.hidden = slot.hidden;
    picker.querySelector(".drop-title").textContent = slot.dataset.title;
    const input = picker.querySelector("input[type=file]");
    input.id = name;
    input.name = name;
    if (slot.dataset.accept) {
      input.accept = slot.dataset.accept;
      picker.querySelector(".drop-hint").textContent = "Drop a video here or choose one";
    }
    slot.replaceWith(picker);
  }
}
buildPickers();

const form = document.getElementById("job");
const statusLine = document.getElementById("status");
const errorBox = document.getElementById("error");
const runButton = document.getElementById("run");
const output = document.getElementById("output");
const resultImage = document.getElementById("result");
const download = document.getElementById("download");
const faces = document.getElementById("faces");
let resultUrl = null;

function operation() {
  return form.querySelector("input[name=operation]:checked").value;
}

function videoOperation() {
  return document.getElementById("video-operation").value;
}

// What the fields' data-ops name: the operation, and for a video also
// "video-<what is done to it>".
function shownFor(op) {
  return op === "video" ? ["video", "video-" + videoOperation()] : [op];
}

// Shows only what the chosen operation reads.
function showFieldsOf(op) {
  const shown = shownFor(op);
  for (const element of form.querySelectorAll("[data-ops]")) {
    element.hidden = !element.dataset.ops.split(" ").some((name) => shown.includes(name));
  }
}

function visibleImageInputs() {
  return [...form.querySelectorAll(".drop")].filter((zone) => !zone.hidden)
    .map((zone) => zone.querySelector("input[type=file]"));
}

function showPreview(input) {
  const zone = input.closest(".drop");
  const preview = zone.querySelector(".preview");
  if (preview.src) URL.revokeObjectURL(preview.src);
  const file = input.files[0];
  preview.hidden = !file || input.name === "video";
  if (input.name === "video") {
    // A video is not previewed: its name says which was chosen.
    let name = zone.querySelector(".drop-file");
    if (!name) {
      name = document.createElement("span");
      name.className = "drop-file";
      zone.querySelector(".drop-hint").after(name);
    }
    name.textContent = file ? "Chosen: " + file.name : "";
    return;
  }
  if (file) {
    preview.src = URL.createObjectURL(file);
    preview.alt = "Chosen: " + file.name;
  }
}

function showError(message) {
  errorBox.textContent = message;
  errorBox.hidden = false;
}

function setBusy(busy, message) {
  runButton.disabled = busy;
  statusLine.classList.toggle("busy", busy);
  statusLine.textContent = message;
}

function formFor(op) {
  const data = new FormData();
  for (const input of visibleImageInputs()) data.append(input.name, input.files[0]);
  for (const name of ["blur", "padding", "blend", "scale", "format", "embedding", "enhance", "container"]) {
    const field = document.getElementById(name);
    const label = field.closest("[data-ops]");
    if (label && label.hidden) continue;
    if (field.type === "checkbox") {
      if (field.checked) data.append(name, field.value);
    } else if (field.value.trim() !== "") {
      data.append(name, field.value.trim());
    }
  }
  return data;
}

async function errorMessageOf(response) {
  try {
    const body = await response.json();
    if (body && body.error) return body.error;
  } catch (ignored) {
    // Not JSON: fall back to the status below.
  }
  return "The server answered " + response.status + " " + response.statusText;
}

function showResult(blob, op) {
  if (resultUrl) URL.revokeObjectURL(resultUrl);
  resultUrl = URL.createObjectURL(blob);
  resultImage.src = resultUrl;
  const extension = blob.type === "image/jpeg" ? "jpg" : "png";
  download.href = resultUrl;
  download.download = op + "-result." + extension;
  const inputs = document.getElementById("inputs");
  inputs.replaceChildren(...visibleImageInputs().map((input) => {
    const image = document.createElement("img");
    image.src = input.closest(".drop").querySelector(".preview").src;
    image.alt = input.closest(".drop").querySelector(".drop-title").textContent;
    return image;
  }));
  document.getElementById("inputs-caption").textContent = inputs.children.length > 1 ? "Inputs" : "Input";
  output.hidden = false;
}

function svgElement(kind, attributes) {
  const element = document.createElementNS(SVG, kind);
  for (const [name, value] of Object.entries(attributes)) element.setAttribute(name, value);
  return element;
}

// The picture with every face's box and points drawn over it, in the
// picture's own pixels (the overlay stretches with the picture).
function showFaces(analysis) {
  const picture = document.getElementById("detect-picture");
  picture.src = visibleImageInputs()[0].closest(".drop").querySelector(".preview").src;
  const overlay = document.getElementById("detect-overlay");
  overlay.setAttribute("viewBox", `0 0 ${analysis.width} ${analysis.height}`);
  overlay.setAttribute("preserveAspectRatio", "none");
  const radius = Math.max(1.5, Math.max(analysis.width, analysis.height) / 250);
  const shapes = [];
  for (const face of analysis.faces) {
    const [x1, y1, x2, y2] = face.box;
    shapes.push(svgElement("rect", { class: "box", x: x1, y: y1, width: x2 - x1, height: y2 - y1 }));
    for (const [x, y] of face.points68 || []) {
      shapes.push(svgElement("circle", { class: "point68", cx: x, cy: y, r: radius * 0.6 }));
    }
    for (const [x, y] of face.points5) shapes.push(svgElement("circle", { class: "point5", cx: x, cy: y, r: radius }));
  }
  overlay.replaceChildren(...shapes);
  const count = analysis.faces.length;
  document.getElementById("faces-summary").textContent =
    `${count} ${count === 1 ? "face" : "faces"} in ${analysis.width} × ${analysis.height} pixels (detector ${analysis.detector}).`;
  faces.hidden = false;
}

async function run(event) {
  event.preventDefault();
  errorBox.hidden = true;
  const op = operation();
  const missing = visibleImageInputs().find((input) => input.files.length === 0);
  if (missing) {
    const what = missing.name === "video" ? "a video" : "a picture";
    showError(`Choose ${what} for: ` + missing.closest(".drop").querySelector(".drop-title").textContent);
    missing.focus();
    return;
  }
  if (op === "video") {
    startVideo();
    return;
  }
  setBusy(true, "Working…");
  try {
    const response = await fetch("/api/" + op, { method: "POST", body: formFor(op) });
    if (!response.ok) {
      showError(await errorMessageOf(response));
      setBusy(false, "");
      return;
    }
    output.hidden = op === "detect";
    faces.hidden = op !== "detect";
    if (op === "detect") showFaces(await response.json());
    else showResult(await response.blob(), op);
    setBusy(false, "Done.");
  } catch (failure) {
    showError("The server could not be reached: " + failure.message);
    setBusy(false, "");
  }
}

// Dropping a file on a picker puts it into that picker's file input.
function acceptDrops(zone) {
  const input = zone.querySelector("input[type=file]");
  zone.addEventListener("dragover", (event) => {
    event.preventDefault();
    zone.classList.add("over");
  });
  zone.addEventListener("dragleave", () => zone.classList.remove("over"));
  zone.addEventListener("drop", (event) => {
    event.preventDefault();
    zone.classList.remove("over");
    if (event.dataTransfer.files.length === 0) return;
    const files = new DataTransfer();
    files.items.add(event.dataTransfer.files[0]);
    input.files = files.files;
    showPreview(input);
  });
  input.addEventListener("change", () => showPreview(input));
}

// Greys out what the server cannot do with the models it has.
async function markUnavailable() {
  try {
    const health = await (await fetch("/api/health")).json();
    for (const radio of form.querySelectorAll("input[name=operation]")) {
      if (health.operations[radio.value] === false) {
        radio.disabled = true;
        radio.parentElement.title = "Not available: the server has no model for it";
      }
    }
    const video = form.querySelector("input[value=video]");
    if (health.video && !health.video.available) {
      video.disabled = true;
      video.parentElement.title = "Not available: " + (health.video.problem || "no video jobs on this server");
    }
    const scales = health.upscale_scales || [];
    for (const option of document.getElementById("scale").options) {
      option.disabled = !scales.includes(Number(option.value));
    }
  } catch (ignored) {
    // The page still works; the server names a missing model when asked.
  }
}

// ---------------------------------------------------------------- Video --

const videoJob = document.getElementById("video-job");
const videoProgress = document.getElementById("video-progress");
const videoStatus = document.getElementById("video-status");
const videoCancel = document.getElementById("video-cancel");
const videoOutput = document.getElementById("video-output");
const videoResult = document.getElementById("video-result");
const POLL_MS = 500;
let followed = null; // the id of the job the page follows

function jobInAddress() {
  const match = /^#job=([0-9a-f]{32})$/.exec(window.location.hash);
  return match ? match[1] : null;
}

function putJobInAddress(id) {
  history.replaceState(null, "", id ? "#job=" + id : window.location.pathname);
}

function timeText(seconds) {
  const whole = Math.max(0, Math.round(seconds));
  const minutes = Math.floor(whole / 60);
  return minutes > 0 ? `${minutes} min ${whole % 60} s` : `${whole} s`;
}

function progressText(job) {
  const total = job.frames_total;
  const parts = [`${job.frames_done}${total !== null ? " of " + total : ""} frames`];
  if (job.fps > 0) parts.push(`${job.fps.toFixed(1)} frames/s`);
  if (job.seconds_left !== null && job.seconds_left !== undefined) parts.push(`about ${timeText(job.seconds_left)} left`);
  return parts.join(", ");
}

function showVideoResult(job) {
  videoOutput.hidden = false;
  videoCancel.hidden = true;
  if (videoResult.getAttribute("src") !== job.result) videoResult.src = job.result;
  const download = document.getElementById("video-download");
  download.href = job.result;
  download.download = job.result_name;
  const minutes = Math.floor((job.kept_seconds || 0) / 60);
  videoStatus.textContent = `Done: ${job.frames_done} frames` +
    (job.failed_frames ? ` (${job.failed_frames} kept as they were)` : "") +
    `. The server keeps the result for about ${minutes} more minutes.`;
}

// One look at the job; true while it is still worth looking again.
function showVideoJob(job) {
  videoJob.hidden = false;
  videoProgress.max = Math.max(1, job.frames_total || 1);
  videoProgress.value = job.state === "done" ? videoProgress.max : job.frames_done;
  switch (job.state) {
    case "queued":
      videoStatus.textContent = "Waiting for its turn…";
      return true;
    case "running":
      videoStatus.textContent = progressText(job);
      return true;
    case "done":
      showVideoResult(job);
      return false;
    default:
      videoCancel.hidden = true;
      videoStatus.textContent = job.state === "cancelled" ? "Cancelled." : "";
      if (job.state === "failed") showError(job.error || "The video job failed");
      return false;
  }
}

async function followVideo(id) {
  followed = id;
  putJobInAddress(id);
  videoJob.hidden = false;
  videoOutput.hidden = true;
  videoCancel.hidden = false;
  videoCancel.disabled = false;
  runButton.disabled = true;
  while (followed === id) {
    let job;
    try {
      const response = await fetch("/api/jobs/" + id, { cache: "no-store" });
      if (response.status === 404) {
        showError("The video job is no longer on the server");
        putJobInAddress(null);
        break;
      }
      job = await response.json();
    } catch (failure) {
      showError("The server could not be reached: " + failure.message);
      break;
    }
    if (followed !== id || !showVideoJob(job)) break;
    await new Promise((resolve) => setTimeout(resolve, POLL_MS));
  }
  if (followed === id) runButton.disabled = false;
}

async function startVideo() {
  const op = videoOperation();
  videoOutput.hidden = true;
  videoResult.removeAttribute("src");
  setBusy(true, "Sending the video…");
  try {
    const response = await fetch("/api/videos/" + op, { method: "POST", body: formFor("video") });
    if (response.status !== 202) {
      showError(await errorMessageOf(response));
      setBusy(false, "");
      return;
    }
    const job = await response.json();
    setBusy(false, "");
    followVideo(job.id);
  } catch (failure) {
    showError("The server could not be reached: " + failure.message);
    setBusy(false, "");
  }
}

async function removeVideo() {
  const id = followed;
  if (!id) return;
  videoCancel.disabled = true;
  try {
    const response = await fetch("/api/jobs/" + id, { method: "DELETE" });
    const answer = await response.json();
    if (!response.ok) showError(answer.error || "The job could not be removed");
    else if (answer.state === "deleted") {
      followed = null;
      videoJob.hidden = true;
      videoResult.removeAttribute("src");
      putJobInAddress(null);
      runButton.disabled = false;
    }
  } catch (failure) {
    showError("The server could not be reached: " + failure.message);
  }
}

videoCancel.addEventListener("click", removeVideo);
document.getElementById("video-delete").addEventListener("click", removeVideo);
document.getElementById("video-operation").addEventListener("change", () => showFieldsOf(operation()));

for (const radio of form.querySelectorAll("input[name=operation]")) {
  radio.addEventListener("change", () => {
    errorBox.hidden = true;
    showFieldsOf(operation());
  });
}
for (const zone of form.querySelectorAll(".drop")) acceptDrops(zone);
form.addEventListener("submit", run);
const resumed = jobInAddress();
if (resumed) form.querySelector("input[value=video]").checked = true;
showFieldsOf(operation());
markUnavailable();
if (resumed) followVideo(resumed);
