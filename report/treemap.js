// The map page's script: lays the folder tree out with d3-hierarchy's
// squarified treemap and draws one rectangle per folder; a click or Enter
// zooms into a folder, the breadcrumb, Escape and Back lead up again.
(function () {
  "use strict";
  var data = JSON.parse(document.getElementById("tree").textContent);
  var map = document.getElementById("map");
  var crumbs = document.getElementById("crumbs");
  var colourChoice = document.getElementById("colour");
  var legend = document.getElementById("legend");
  var separator = data.separator;

  // The whole tree, built once; a node's own files are the part of its total
  // that its children on the map do not hold.
  var tree = d3.hierarchy(data.root, function (d) { return d.c; });
  var nodes = tree.descendants();
  nodes.forEach(function (node, id) {
    node.id = id;
    node.data.node = node;
    var d = node.data;
    var children = (d.c || []).reduce(function (sum, c) { return sum + c.v; }, 0);
    d.own = Math.max(d.v - children, 0);
  });

  function pathOf(node) {
    if (!node.parent) return node.data.n;
    var above = pathOf(node.parent);
    return above + (above.slice(-1) === separator ? "" : separator) + node.data.n;
  }

  function isOther(d) { return d.x !== undefined; }

  function titleOf(d) {
    if (isOther(d)) {
      return "other: " + d.x + (d.x === 1 ? " smaller folder" : " smaller folders") + " in " +
        pathOf(d.node.parent) + "\nTotal: " + d.t;
    }
    var lines = [pathOf(d.node), "Total: " + d.t, "Own size: " + d.o, "Files: " + d.f, "Wastage: " + d.w];
    if (data.growth) lines.push("Growth: " + (d.gt === undefined ? "unknown" : d.gt));
    if (d.z) lines.push("Folded: its subfolders are summed into it");
    return lines.join("\n");
  }

  // ---- Colours -------------------------------------------------------------

  function shade(hue, strength) {
    return "hsl(" + hue + ", 70%, " + (93 - 48 * Math.min(Math.max(strength, 0), 1)).toFixed(1) + "%)";
  }

  // Wastage shares of half the size or more take the strongest colour.
  function wasteColour(d) { return shade(28, d.r / 0.5); }

  var UNCHANGED = "#eceef1";

  // Growth as a share of the larger of the totals now and then: grown red,
  // shrunk green.
  function growthColour(d) {
    if (d.g === undefined) return "#bfc4cb";
    if (d.g === "new") return shade(210, 0.6);
    if (d.g === 0) return UNCHANGED;
    if (d.g > 0) return shade(0, d.g / d.v);
    return shade(130, -d.g / (d.v - d.g));
  }

  function depthColour(node) { return "hsl(" + ((node.depth * 57 + 200) % 360) + ", 55%, 78%)"; }

  var schemes = {
    waste: {
      colour: function (node) { return wasteColour(node.data); },
      legend: [["0%", shade(28, 0)], ["10%", shade(28, 0.2)], ["25%", shade(28, 0.5)],
               ["50% and more wastage", shade(28, 1)]]
    },
    growth: {
      colour: function (node) { return growthColour(node.data); },
      legend: [["grown", shade(0, 0.7)], ["unchanged", UNCHANGED], ["shrunk", shade(130, 0.7)],
               ["new", shade(210, 0.6), "new"], ["unknown", "#bfc4cb"]]
    },
    depth: {
      colour: depthColour,
      legend: [0, 1, 2, 3, 4].map(function (depth) {
        return [depth === 4 ? "level 4 and deeper" : "level " + depth, depthColour({depth: depth})];
      })
    }
  };

  function drawLegend() {
    legend.textContent = "";
    schemes[colourChoice.value].legend.forEach(function (entry) {
      var item = document.createElement("span");
      var swatch = document.createElement("i");
      swatch.style.background = entry[1];
      if (entry[2]) swatch.className = entry[2];
      item.appendChild(swatch);
      item.appendChild(document.createTextNode(entry[0]));
      legend.appendChild(item);
    });
    var other = document.createElement("span");
    var swatch = document.createElement("i");
    swatch.className = "other";
    other.appendChild(swatch);
    other.appendChild(document.createTextNode("other: smaller folders summed"));
    legend.appendChild(other);
  }

  // ---- Drawing -------------------------------------------------------------

  var current = tree;
  var drawnSize = "";  // of the map when last drawn

  function layout(top) {
    var view = d3.hierarchy(top.data, function (d) { return d.c; })
      .sum(function (d) { return isOther(d) ? d.v : d.own; })
      .sort(function (a, b) { return b.value - a.value; });
    var big = function (node) { return node.x1 - node.x0 > 40 && node.y1 - node.y0 > 36; };
    return d3.treemap()
      .tile(d3.treemapSquarify)
      .size([map.clientWidth, map.clientHeight])
      .paddingTop(function (node) { return node.depth > 0 && big(node) ? 15 : 0; })
      .paddingRight(function (node) { return node.depth > 0 && big(node) ? 2 : 0; })
      .paddingBottom(function (node) { return node.depth > 0 && big(node) ? 2 : 0; })
      .paddingLeft(function (node) { return node.depth > 0 && big(node) ? 2 : 0; })(view);
  }

  function drawCell(fragment, placed) {
    var d = placed.data;
    var width = placed.x1 - placed.x0, height = placed.y1 - placed.y0;
    var cell = document.createElement("div");
    cell.className = isOther(d) ? "cell other" : d.g === "new" && colourChoice.value === "growth" ? "cell new" : "cell";
    // One assignment of the whole style: a map of many thousand rectangles
    // draws noticeably faster than with a property at a time.
    cell.style.cssText = "left:" + placed.x0 + "px;top:" + placed.y0 + "px;width:" + width + "px;height:" +
      height + "px" + (isOther(d) ? "" : ";background-color:" + schemes[colourChoice.value].colour(d.node));
    cell.title = titleOf(d);
    cell.dataset.id = isOther(d) ? "" : d.node.id;
    cell.dataset.value = d.v;
    cell.tabIndex = 0;
    cell.setAttribute("role", "button");
    cell.setAttribute("aria-label", isOther(d) ? "other, " + d.t : d.n + ", " + d.t);
    if (width > 44 && height > 14) {
      var label = document.createElement("div");
      label.className = "label";
      var name = document.createElement("b");
      name.textContent = d.n;
      label.appendChild(name);
      label.appendChild(document.createTextNode(" " + d.t));
      cell.appendChild(label);
    }
    fragment.appendChild(cell);
  }

  function draw() {
    drawnSize = map.clientWidth + "x" + map.clientHeight;
    var placed = layout(current);
    var fragment = document.createDocumentFragment();
    placed.descendants().forEach(function (node) {
      // A rectangle under two pixels across shows nothing but its border.
      if (node.depth === 0 || node.x1 - node.x0 < 2 || node.y1 - node.y0 < 2) return;
      drawCell(fragment, node);
    });
    map.textContent = "";
    map.appendChild(fragment);
    drawCrumbs();
  }

  function drawCrumbs() {
    crumbs.textContent = "";
    current.ancestors().reverse().forEach(function (node, index, all) {
      if (index > 0) {
        var sep = document.createElement("span");
        sep.className = "sep";
        sep.textContent = "\u203a";
        crumbs.appendChild(sep);
      }
      var text = node.data.n;
      if (index === all.length - 1) {
        var here = document.createElement("span");
        here.className = "here";
        here.textContent = text + " (" + node.data.t + ")";
        crumbs.appendChild(here);
        return;
      }
      var button = document.createElement("button");
      button.type = "button";
      button.textContent = text;
      button.dataset.levels = all.length - 1 - index;
      crumbs.appendChild(button);
    });
  }

  // ---- Zoom and history ----------------------------------------------------
  // Every level on the way down is an entry of the history, so that Back,
  // Escape and the breadcrumb go up one level per step.

  function show(node) {
    current = node;
    draw();
  }

  function zoomTo(node) {
    if (node === current || node.depth <= current.depth) return;
    var way = node.ancestors().filter(function (a) { return a.depth > current.depth; }).reverse();
    way.forEach(function (step) { history.pushState({id: step.id}, ""); });
    show(node);
    var first = map.querySelector(".cell");
    if (first) first.focus();
  }

  function goUp(levels) {
    if (levels > 0 && current.depth > 0) history.go(-Math.min(levels, current.depth));
  }

  window.addEventListener("popstate", function (event) {
    var id = event.state && typeof event.state.id === "number" ? event.state.id : 0;
    show(nodes[id] || tree);
  });

  function zoomFromCell(cell) {
    if (!cell || cell.dataset.id === "") return;
    zoomTo(nodes[Number(cell.dataset.id)]);
  }

  map.addEventListener("click", function (event) { zoomFromCell(event.target.closest(".cell")); });
  map.addEventListener("keydown", function (event) {
    if (event.key === "Enter") zoomFromCell(event.target.closest(".cell"));
  });
  document.addEventListener("keydown", function (event) {
    if (event.key === "Escape") goUp(1);
  });
  crumbs.addEventListener("click", function (event) {
    var button = event.target.closest("button");
    if (button) goUp(Number(button.dataset.levels));
  });
  colourChoice.addEventListener("change", function () {
    drawLegend();
    draw();
  });
  window.addEventListener("resize", function () {
    var size = map.clientWidth + "x" + map.clientHeight;
    if (size !== drawnSize) draw();
  });

  var start = history.state && typeof history.state.id === "number" ? nodes[history.state.id] : null;
  if (!start) history.replaceState({id: 0}, "");
  drawLegend();
  show(start || tree);
})();
