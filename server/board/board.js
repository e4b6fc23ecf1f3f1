// The leaderboard page: fetches the board, a nickname's best and the distribution of scores
// from the server's JSON API and shows them. Every text from the server goes into the page as
// text (textContent), never as markup.
'use strict';

const PageSize = 50;
const RefreshMs = 10000;
let page = 0;
let total = 0;
let known = null; // the rows shown before the last refresh, to mark new ones

function element(name, text, className) {
  const node = document.createElement(name);
  if (text !== undefined) node.textContent = text;
  if (className) node.className = className;
  return node;
}

function svg(name, attributes, text) {
  const node = document.createElementNS('http://www.w3.org/2000/svg', name);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, String(value));
  if (text !== undefined) node.textContent = text;
  return node;
}

async function getJson(path) {
  const response = await fetch(path, { cache: 'no-store' });
  const body = await response.json();
  if (!response.ok) throw new Error(body.error || response.statusText);
  return body;
}

function rowKey(entry) {
  return entry.submitted + '\u0000' + entry.nickname + '\u0000' + entry.score_text;
}

async function showBoard() {
  const data = await getJson('/api/top?limit=' + PageSize + '&offset=' + page * PageSize);
  total = data.total;
  const body = document.querySelector('#board tbody');
  const rows = [];
  const keys = new Set();
  for (const entry of data.entries) {
    const row = element('tr');
    row.append(element('td', String(entry.rank)), element('td', entry.nickname),
               element('td', entry.score_text), element('td', entry.submitted.replace('T', ' ').replace('Z', '')));
    if (known && !known.has(rowKey(entry))) row.classList.add('new');
    keys.add(rowKey(entry));
    rows.push(row);
  }
  known = keys;
  body.replaceChildren(...rows);
  const pages = Math.max(1, Math.ceil(total / PageSize));
  document.getElementById('page').textContent = 'Page ' + (page + 1) + ' of ' + pages + ' (' + total + ' scores)';
  document.getElementById('previous').disabled = page === 0;
  document.getElementById('next').disabled = page + 1 >= pages;
}

async function showChart() {
  const data = await getJson('/api/distribution');
  const chart = document.getElementById('chart');
  const width = 900, height = 300, left = 40, right = 20, top = 20, bottom = 40;
  const low = Math.log10(data.edges[0]);
  const high = Math.log10(data.edges[data.edges.length - 1]);
  const x = (seconds) => left + (Math.log10(seconds) - low) / (high - low) * (width - left - right);
  const most = Math.max(1, ...data.counts);
  const parts = [svg('line', { class: 'axis', x1: left, y1: height - bottom, x2: width - right, y2: height - bottom })];
  data.counts.forEach((count, i) => {
    if (count === 0) return;
    const barHeight = count / most * (height - top - bottom);
    const bar = svg('rect', { class: 'bar', x: x(data.edges[i]) + 1, y: height - bottom - barHeight,
                              width: Math.max(1, x(data.edges[i + 1]) - x(data.edges[i]) - 2), height: barHeight });
    bar.append(svg('title', {}, count + ' score(s) from ' + data.edges[i] + ' s'));
    parts.push(bar);
  });
  for (const tick of [0.1, 1, 10, 100, 1000]) {
    if (tick < data.edges[0] || tick > data.edges[data.edges.length - 1]) continue;
    parts.push(svg('text', { class: 'tick', x: x(tick), y: height - bottom + 16, 'text-anchor': 'middle' }, tick + ' s'));
  }
  const list = [];
  data.references.forEach((machine, i) => {
    const at = x(machine.seconds);
    const line = svg('line', { class: 'reference', x1: at, y1: top, x2: at, y2: height - bottom });
    line.append(svg('title', {}, machine.name + ': ' + machine.seconds + ' s'));
    parts.push(line, svg('text', { class: 'reference-label', x: at + 2, y: top + 10 + (i % 3) * 12 }, String(i + 1)));
    list.push(element('li', machine.name + ': ' + machine.seconds + ' s'));
  });
  chart.replaceChildren(...parts);
  document.getElementById('references').replaceChildren(...list);
}

async function refresh() {
  try {
    await Promise.all([showBoard(), showChart()]);
    document.getElementById('status').textContent = 'Updated ' + new Date().toLocaleTimeString() + '.';
  } catch (error) {
    document.getElementById('status').textContent = 'Could not reach the server: ' + error.message;
  }
}

async function find(event) {
  event.preventDefault();
  const name = document.getElementById('name').value;
  const found = document.getElementById('found');
  try {
    const data = await getJson('/api/player?name=' + encodeURIComponent(name));
    found.textContent = data.nickname + ': best ' + data.best.score_text + ' s, rank ' +
        data.best.rank + ' of ' + data.total + ' (' + data.submissions + ' submission(s)).';
  } catch (error) {
    found.textContent = name + ': ' + error.message;
  }
}

document.getElementById('search').addEventListener('submit', find);
document.getElementById('previous').addEventListener('click', () => { page = Math.max(0, page - 1); known = null; refresh(); });
document.getElementById('next').addEventListener('click', () => { page += 1; known = null; refresh(); });
refresh();
setInterval(refresh, RefreshMs);
