// The page's behaviour: shows the pickers and options of the chosen
// operation, sends the form to /api/<operation>, shows the running state,
// the result beside the input(s), the faces found drawn over the picture,
// or the server's error message.
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

// Shows only what the chosen operation reads.
function showFieldsOf(op) {
  for (const element of form.querySelectorAll("[data-ops]")) {
    element.hidden = !element.dataset.ops.split(" ").includes(op);
  }
}

function visibleImageInputs() {
  return [...form.querySelectorAll(".drop")].filter((zone) => !zone.hidden)
    .map((zone) => zone.querySelector("input[type=file]"));
}

function showPreview(input) {
  const preview = input.closest(".drop").querySelector(".preview");
  if (preview.src) URL.revokeObjectURL(preview.src);
  const file = input.files[0];
  preview.hidden = !file;
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
  for (const name of ["blur", "padding", "blend", "scale", "format", "embedding"]) {
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
    showError("Choose a picture for: " + missing.closest(".drop").querySelector(".drop-title").textContent);
    missing.focus();
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
    const scales = health.upscale_scales || [];
    for (const option of document.getElementById("scale").options) {
      option.disabled = !scales.includes(Number(option.value));
    }
  } catch (ignored) {
    // The page still works; the server names a missing model when asked.
  }
}

for (const radio of form.querySelectorAll("input[name=operation]")) {
  radio.addEventListener("change", () => {
    errorBox.hidden = true;
    showFieldsOf(operation());
  });
}
for (const zone of form.querySelectorAll(".drop")) acceptDrops(zone);
form.addEventListener("submit", run);
showFieldsOf(operation());
markUnavailable();
