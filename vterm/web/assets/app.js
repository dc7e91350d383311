'use strict';
// The browser view of the virtual terminal: the display, the pen, the PIN pad, the card
// reader, the misbehaviour switches, the state and the frame log. Everything live comes from
// one event stream (/api/events); actions go out as small JSON posts (/api/<action>).

const W = 320, H = 240, PAD = 1024;
const $ = (id) => document.getElementById(id);

// What tests and curious people can read: every stroke the page sent, in pad coordinates.
const page = { strokes: [], touches: [], state: null, displayVersion: 0, shownVersion: 0, frames: 0 };
window.vtermPage = page;

function toast(text) {
  const t = $('toast');
  t.textContent = text;
  t.classList.add('show');
  clearTimeout(toast.timer);
  toast.timer = setTimeout(() => t.classList.remove('show'), 2500);
}

// Actions leave one after the other: two quick key presses travel on two connections and
// would otherwise reach the pad in either order.
let queue = Promise.resolve();
function act(action, body) {
  const done = queue.then(() => send(action, body));
  queue = done.catch(() => {});
  return done;
}

async function send(action, body) {
  try {
    const r = await fetch('/api/' + action, {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
    });
    const reply = await r.json();
    if (!reply.ok) toast(action + ': ' + (reply.why || 'nothing to do'));
    return reply;
  } catch (e) {
    toast(action + ': ' + e);
    return { ok: false, why: String(e) };
  }
}

// --- Display -------------------------------------------------------------------------------

const actual = $('actual'), scaled = $('scaled');
const actx = actual.getContext('2d'), sctx = scaled.getContext('2d');
const image = actx.createImageData(W, H);
let fetching = false;
let drawing = null;  // the stroke under the pointer: display points

function drawScaled() {
  sctx.imageSmoothingEnabled = false;
  sctx.drawImage(actual, 0, 0, scaled.width, scaled.height);
  if (drawing && drawing.display.length) {
    const sx = scaled.width / W, sy = scaled.height / H;
    sctx.strokeStyle = '#1e6fd9';
    sctx.lineWidth = 3;
    sctx.lineCap = sctx.lineJoin = 'round';
    sctx.beginPath();
    drawing.display.forEach((p, i) => (i ? sctx.lineTo(p.x * sx, p.y * sy) : sctx.moveTo(p.x * sx, p.y * sy)));
    if (drawing.display.length === 1) sctx.lineTo(drawing.display[0].x * sx + 0.5, drawing.display[0].y * sy);
    sctx.stroke();
  }
}

// Fetches the display until the page shows the newest version (one request at a time).
async function refreshDisplay() {
  if (fetching) return;
  fetching = true;
  try {
    while (page.displayVersion > page.shownVersion) {
      const r = await fetch('/api/display', { cache: 'no-store' });
      const rgb = new Uint8Array(await r.arrayBuffer());
      const version = Number(r.headers.get('X-Display-Version'));
      if (rgb.length !== W * H * 3 || !Number.isFinite(version)) break;
      const d = image.data;
      for (let i = 0, j = 0; j < rgb.length; i += 4, j += 3) {
        d[i] = rgb[j]; d[i + 1] = rgb[j + 1]; d[i + 2] = rgb[j + 2]; d[i + 3] = 255;
      }
      actx.putImageData(image, 0, 0);
      drawScaled();
      page.shownVersion = version;
      if (version < page.displayVersion) continue;
    }
  } catch (e) {
    // The stream reconnects and asks again.
  } finally {
    fetching = false;
  }
}

// --- The pen -------------------------------------------------------------------------------

function signatureBox() {
  const regions = (page.state && page.state.regions) || [];
  const box = regions.filter((r) => r.kind === 2).pop();
  return box || { left: 0, top: 0, right: W - 1, bottom: H - 1 };
}

function displayPoint(canvas, e) {
  const r = canvas.getBoundingClientRect();
  return {
    x: ((e.clientX - r.left - canvas.clientLeft) * W) / canvas.clientWidth,
    y: ((e.clientY - r.top - canvas.clientTop) * H) / canvas.clientHeight,
  };
}

// Display to pad coordinates: the pen writes into the signature box, or the whole display.
function padPoint(d) {
  const b = signatureBox();
  const clamp = (v) => Math.max(0, Math.min(PAD - 1, Math.round(v)));
  return [clamp(((d.x - b.left) * PAD) / Math.max(1, b.right - b.left)),
          clamp(((d.y - b.top) * PAD) / Math.max(1, b.bottom - b.top))];
}

function regionAt(d) {
  const regions = (page.state && page.state.regions) || [];
  return regions.filter((r) => (r.kind === 1 || r.kind === 17) &&
    d.x >= r.left && d.x <= r.right + 1 && d.y >= r.top && d.y <= r.bottom + 1).pop();
}

function addPoint(canvas, e) {
  const d = displayPoint(canvas, e);
  const p = padPoint(d);
  const last = drawing.pad[drawing.pad.length - 1];
  drawing.display.push(d);
  if (!last || last[0] !== p[0] || last[1] !== p[1]) drawing.pad.push(p);
}

function penDown(e) {
  if (e.pointerType === 'mouse' && e.button !== 0) return;
  e.preventDefault();
  e.target.setPointerCapture(e.pointerId);
  drawing = { id: e.pointerId, type: e.pointerType, display: [], pad: [] };
  addPoint(e.target, e);
  drawScaled();
}

function penMove(e) {
  if (!drawing || e.pointerId !== drawing.id) return;
  e.preventDefault();
  const events = e.getCoalescedEvents ? e.getCoalescedEvents() : [e];
  for (const c of events.length ? events : [e]) addPoint(e.target, c);
  drawScaled();
}

async function penUp(e) {
  if (!drawing || e.pointerId !== drawing.id) return;
  e.preventDefault();
  addPoint(e.target, e);
  const stroke = drawing;
  drawing = null;
  const first = stroke.display[0];
  const travel = Math.max(...stroke.display.map((p) => Math.hypot(p.x - first.x, p.y - first.y)));
  const region = travel < 3 ? regionAt(first) : undefined;
  if (region) {
    page.touches.push(region.id);
    await act('touch', { id: region.id });
  } else {
    const record = { points: stroke.pad, pointerType: stroke.type, ok: null };
    page.strokes.push(record);
    const reply = await act('pen', { strokes: [stroke.pad] });
    record.ok = !!reply.ok;
    $('pen-status').textContent = reply.ok ? stroke.pad.length + ' points to the pen' : '';
  }
  drawScaled();
}

for (const c of [scaled, actual]) {
  c.addEventListener('pointerdown', penDown);
  c.addEventListener('pointermove', penMove);
  c.addEventListener('pointerup', penUp);
  c.addEventListener('pointercancel', () => { drawing = null; drawScaled(); });
}

// --- PIN pad -------------------------------------------------------------------------------

for (const b of document.querySelectorAll('#keypad button')) {
  b.addEventListener('click', () => act('key', { key: b.dataset.key }));
}
document.addEventListener('keydown', (e) => {
  if (e.target instanceof HTMLInputElement) return;
  const keys = { Enter: 'E', Escape: 'C', Backspace: 'B', Delete: 'X' };
  const key = /^[0-9]$/.test(e.key) ? e.key : keys[e.key];
  if (key) {
    e.preventDefault();
    act('key', { key });
  }
});

// --- Card reader ---------------------------------------------------------------------------

$('swipe').addEventListener('click', () =>
  act('swipe', { tracks: [$('track1').value, $('track2').value, $('track3').value] }));
$('bad-swipe').addEventListener('click', () => act('swipe', { bad: true }));
$('manual-answer').addEventListener('click', () => act('manual', { action: 'answer', data: $('manual-data').value }));
$('manual-refuse').addEventListener('click', () => act('manual', { action: 'refuse' }));

// --- Misbehaviour --------------------------------------------------------------------------

for (const b of document.querySelectorAll('[data-fault]')) {
  b.addEventListener('click', () => {
    const f = b.dataset.fault;
    const num = (id) => Number($(id).value);
    const body = { fault: f };
    if ($(f + '-count')) body.count = num(f + '-count');
    if (f === 'refuse') body.status = parseInt($('refuse-status').value, 16);
    if (f === 'late') body.ms = num('late-ms');
    if (f === 'short') body.bytes = num('short-bytes');
    if (f === 'garbage') body.length = num('garbage-length');
    act('misbehave', body).then((r) => r.ok && toast(f === 'restart' ? 'restarted' : f + ' set'));
  });
}

// --- State ---------------------------------------------------------------------------------

function showState(s) {
  page.state = s;
  $('link').textContent = s.link;
  const e = s.entry;
  $('entry-lines').textContent = e.pending && e.lines ? e.lines.map((l) => l.text).join('\n') : '';
  $('entry-digits').textContent = e.keyed ? '*'.repeat(e.digits) || ' ' : e.pending ? '(answers by itself)' : '';
  const m = s.manual;
  $('manual-state').textContent = m.pending
    ? 'Manual entry waiting' + (m.dataReturning ? ' for card data.' : ' for an acknowledgement.') +
      (m.lines && m.lines.length ? ' Shown: ' + m.lines.join(' / ') : '')
    : 'No manual entry waiting.';
  $('manual-answer').disabled = $('manual-refuse').disabled = !m.pending;
  const c = s.capture;
  $('capture').textContent = c.active
    ? 'Capture running' + (c.paused ? ' (paused)' : '') + ', format ' + c.format + ', ' + c.points + ' points sent'
    : 'No capture running: strokes are not taken.';
  const d = s.device;
  const rows = [
    ['version', d.version], ['serial', d.serial], ['model', d.model], ['LED', d.led], ['audio', d.audio],
    ['tones', d.tones], ['secure head', d.secureHead ? 'on' : 'off'], ['backlight', s.backlight],
    ['restarts', s.restarts + (s.restarting ? ' (restarting)' : '')], ['misbehaviour left', s.misbehaviourLeft],
    ['PIN-pad entry', e.pending ? 'sub ' + e.sub + (e.keyed ? ', ' + e.digits + ' keyed' : '') : 'none'],
    ['entries', e.count], ['card/keys queued', s.reader.pending], ['key polls', s.reader.keyPolls],
    ['regions', s.regions.map((r) => r.id + ':' + r.kind).join(' ') || 'none'],
  ];
  const table = $('state');
  table.replaceChildren(...rows.map(([k, v]) => {
    const tr = document.createElement('tr');
    for (const text of [k, String(v)]) {
      const td = document.createElement('td');
      td.textContent = text;
      tr.append(td);
    }
    return tr;
  }));
}

// --- Frame log -----------------------------------------------------------------------------

const MAX_ROWS = 2000;
const logBody = document.querySelector('#log tbody');

function addLogRow(f) {
  page.frames++;
  const tr = document.createElement('tr');
  tr.className = f.dir;
  const fail = (f.error && f.error !== 'ok') || f.status === 'NAK';
  if (fail) tr.classList.add('fail');
  const kind = f.dir === 'host' ? (f.error === 'ok' ? 'frame' : f.error) + (f.long ? ' long' : '')
    : f.origin + (f.kind ? ' ' + f.kind : f.framed ? '' : ' raw');
  const cells = [f.t, f.dir === 'host' ? 'host → term' : 'term → host', f.seq || '', kind,
    f.cls || '', f.fn || '', f.dir === 'host' ? f.sub || '' : f.status || '', f.length];
  for (const text of cells) {
    const td = document.createElement('td');
    td.textContent = text;
    tr.append(td);
  }
  if (f.name) tr.cells[4].title = tr.cells[5].title = tr.cells[6].title = f.name;  // the command
  const data = document.createElement('td');
  data.className = 'data';
  if (f.data === null) {
    data.innerHTML = '<span class="hidden"></span>';
    data.firstChild.textContent = '(' + f.hidden + ' bytes hidden)';
  } else {
    data.textContent = f.data + (f.more ? ' … (' + f.more + ' more)' : '');
    if (f.hidden) data.classList.add('hidden');
  }
  tr.append(data);
  logBody.append(tr);
  while (logBody.rows.length > MAX_ROWS) logBody.deleteRow(0);
}

$('log-clear').addEventListener('click', () => logBody.replaceChildren());

// --- The event stream ----------------------------------------------------------------------

function connect() {
  const events = new EventSource('/api/events');
  events.onopen = () => {
    logBody.replaceChildren();  // the stream starts with the recent frames again
    $('connection').textContent = 'live';
    $('connection').className = 'good';
  };
  events.onerror = () => {
    $('connection').textContent = 'reconnecting…';
    $('connection').className = 'bad';
  };
  events.addEventListener('state', (e) => showState(JSON.parse(e.data)));
  events.addEventListener('display', (e) => {
    page.displayVersion = JSON.parse(e.data).version;
    refreshDisplay();
  });
  events.addEventListener('frame', (e) => {
    const follow = $('log-follow').checked;
    addLogRow(JSON.parse(e.data));
    if (follow) $('log-wrap').scrollTop = $('log-wrap').scrollHeight;
  });
  events.addEventListener('reset', () => {
    logBody.replaceChildren();
    const tr = logBody.insertRow();
    tr.insertCell().textContent = '(older frames dropped: the page fell behind)';
  });
}

connect();
