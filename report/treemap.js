// The map page's script: lays the tree of folders and files out with
// d3-hierarchy, as a squarified treemap or as rings (its partition), and
// draws one shape per folder and file. A click zooms one level down, into
// the folder of the view that holds the point; every view has an address
// ("#/" and its path), so that the breadcrumb, Escape, Back and Forward step
// through the views and a view can be shared as a link.
(function () {
  "use strict";
  var data = JSON.parse(document.getElementById("tree").textContent);
  var map = document.getElementById("map");
  var crumbs = document.getElementById("crumbs");
  var colourChoice = document.getElementById("colour");
  var ringsChoice = document.getElementById("rings");
  var legend = document.getElementById("legend");
  var separator = data.separator;
  var SVG = "http://www.w3.org/2000/svg";

  // A node's kind: a folder has none; "f" a file, "o" the folder's other
  // subfolders summed, "r" its other files summed.
  function isFolder(d) { return d.k === undefined; }
  function isSummed(d) { return d.k === "o" || d.k === "r"; }

  // A node's path, kept once found: a title asks for it on every drawing.
  function pathOf(node) {
    if (node.fullPath !== undefined) return node.fullPath;
    if (!node.parent) {
      node.fullPath = node.data.n;
    } else {
      var above = pathOf(node.parent);
      node.fullPath = isSummed(node.data) ? above : above + (above.slice(-1) === separator ? "" : separator) + node.data.n;
    }
    return node.fullPath;
  }

  // The whole tree, built once; a folder's own part is what its children on
  // the map do not hold.
  var tree = d3.hierarchy(data.root, function (d) { return d.c; });
  var nodes = tree.descendants();
  var folderAt = new Map();
  nodes.forEach(function (node, id) {
    node.id = id;
    node.data.node = node;
    var d = node.data;
    var children = (d.c || []).reduce(function (sum, c) { return sum + c.v; }, 0);
    d.own = Math.max(d.v - children, 0);
    if (isFolder(d)) folderAt.set(pathOf(node), node);
  });

  function titleOf(d) {
    if (d.k === "f") return [pathOf(d.node), "Size: " + d.t, "Type: " + d.e].join("\n");
    if (d.k === "o") {
      return "other: " + d.x + (d.x === 1 ? " smaller folder" : " smaller folders") + " in " +
        pathOf(d.node.parent) + "\nTotal: " + d.t;
    }
    if (d.k === "r") return pathOf(d.node) + " " + d.n + "\nTotal: " + d.t;
    var lines = [pathOf(d.node), "Total: " + d.t, "Own size: " + d.o, "Files: " + d.f, "Wastage: " + d.w];
    if (data.growth) lines.push("Growth: " + (d.gt === undefined ? "unknown" : d.gt));
    if (d.z) lines.push("Folded: its subfolders are summed into it");
    return lines.join("\n");
  }

  // ---- Colours -------------------------------------------------------------

  // Twelve colours that stay apart for colour-blind eyes: Paul Tol's
  // qualitative scheme of twelve, in an order that keeps the colours of the
  // largest types far apart; every other type is grey.
  var TYPE_COLOURS = ["#332288", "#ddcc77", "#117733", "#cc6677", "#88ccee", "#882255",
                      "#44aa99", "#999933", "#aa4499", "#6699cc", "#661100", "#aa4466"];
  var OTHER_TYPES = "#bbbbbb";
  var OUTLINE = "transparent";

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

  // Age against the report's time: the newer, the stronger.
  var created = Date.parse(data.created) / 1000;
  var AGES = [[30, "modified within a month", 1], [365, "within a year", 0.6], [3 * 365, "within three years", 0.3],
              [Infinity, "earlier", 0]];
  function ageColour(seconds) {
    if (!seconds) return "#bfc4cb";
    var days = (created - seconds) / 86400;
    for (var i = 0; ; ++i) {
      if (days <= AGES[i][0]) return shade(200, AGES[i][2]);
    }
  }

  // The folder whose figures a file takes in the folders' colourings.
  function folderOf(node) { return isFolder(node.data) ? node : node.parent; }

  function typeShare(bytes) {
    return data.typeBytes > 0 ? Math.round(bytes * 100 / data.typeBytes) + "%" : "0%";
  }

  function typeLegend() {
    var entries = data.types.map(function (type, index) {
      return [type[0] + " " + type[2] + " (" + typeShare(type[1]) + ")", TYPE_COLOURS[index]];
    });
    var coloured = data.types.reduce(function (sum, type) { return sum + type[1]; }, 0);
    if (data.typeBytes > coloured) entries.push(["other types (" + typeShare(data.typeBytes - coloured) + ")", OTHER_TYPES]);
    entries.push(["folder", OUTLINE, "folder"]);
    return entries;
  }

  var schemes = {
    type: {
      colour: function (node) {
        var d = node.data;
        if (d.k !== "f") return OUTLINE;
        return d.y < TYPE_COLOURS.length ? TYPE_COLOURS[d.y] : OTHER_TYPES;
      },
      legend: typeLegend()
    },
    waste: {
      colour: function (node) { return wasteColour(folderOf(node).data); },
      legend: [["0%", shade(28, 0)], ["10%", shade(28, 0.2)], ["25%", shade(28, 0.5)],
               ["50% and more wastage", shade(28, 1)]]
    },
    age: {
      colour: function (node) { return ageColour(node.data.a || folderOf(node).data.a); },
      legend: AGES.map(function (age) { return [age[1], shade(200, age[2])]; }).concat([["no files", "#bfc4cb"]])
    },
    growth: {
      colour: function (node) { return growthColour(folderOf(node).data); },
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

  function scheme() { return schemes[colourChoice.value]; }

  // Whether a colour "#rrggbb" needs light letters (relative luminance).
  var darkness = {};
  function isDark(colour) {
    if (!(colour in darkness)) darkness[colour] = hasLowLuminance(colour);
    return darkness[colour];
  }

  function hasLowLuminance(colour) {
    if (!/^#[0-9a-f]{6}$/.test(colour)) return false;
    var channel = function (at) {
      var c = parseInt(colour.substr(at, 2), 16) / 255;
      return c <= 0.03928 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(1) + 0.7152 * channel(3) + 0.0722 * channel(5) < 0.18;
  }

  // A summed node's colour: its pattern in the boxes, grey in the rings.
  function colourOf(node) { return isSummed(node.data) ? OTHER_TYPES : scheme().colour(node); }

  function drawLegend() {
    legend.textContent = "";
    scheme().legend.concat([["other: smaller folders or files summed", "", "other"]]).forEach(function (entry) {
      var item = document.createElement("span");
      var swatch = document.createElement("i");
      swatch.style.background = entry[1];
      if (entry[2]) swatch.className = entry[2];
      item.appendChild(swatch);
      item.appendChild(document.createTextNode(entry[0]));
      legend.appendChild(item);
    });
  }

  // ---- Layouts -------------------------------------------------------------

  function viewOf(top) {
    return d3.hierarchy(top.data, function (d) { return d.c; })
      .sum(function (d) { return isFolder(d) ? d.own : d.v; })
      .sort(function (a, b) { return b.value - a.value; });
  }

  function boxes(top) {
    var big = function (node) { return node.x1 - node.x0 > 40 && node.y1 - node.y0 > 36; };
    var pad = function (size) {
      return function (node) { return node.depth > 0 && big(node) ? size : 0; };
    };
    return d3.treemap()
      .tile(d3.treemapSquarify)
      .size([map.clientWidth, map.clientHeight])
      .paddingTop(pad(15)).paddingRight(pad(2)).paddingBottom(pad(2)).paddingLeft(pad(2))(viewOf(top));
  }

  // Rings: the view's folder in the middle, each level a ring around it,
  // at most RINGS of them.
  var RINGS = 6;
  function rings(top) {
    var view = viewOf(top);
    return d3.partition().size([2 * Math.PI, view.height + 1])(view);
  }

  // ---- Drawing -------------------------------------------------------------

  var current = tree;
  var drawnSize = "";  // of the map when last drawn

  function describe(element, d) {
    element.dataset.id = d.node.id;
    element.dataset.value = d.v;
    element.setAttribute("role", "button");
    element.setAttribute("aria-label", (isSummed(d) ? pathOf(d.node) + " " + d.n : d.n) + ", " + d.t);
    element.tabIndex = 0;
  }

  function drawCell(fragment, placed) {
    var d = placed.data;
    var width = placed.x1 - placed.x0, height = placed.y1 - placed.y0;
    var cell = document.createElement("div");
    var kind = isSummed(d) ? " other" : d.k === "f" ? " file" : " folder";
    var colour = isSummed(d) ? "" : scheme().colour(d.node);
    cell.className = "cell" + kind + (d.g === "new" && colourChoice.value === "growth" ? " new" : "") +
      (isDark(colour) ? " dark" : "");
    // One assignment of the whole style: a map of many thousand rectangles
    // draws noticeably faster than with a property at a time.
    cell.style.cssText = "left:" + placed.x0 + "px;top:" + placed.y0 + "px;width:" + width + "px;height:" +
      height + "px" + (colour ? ";background-color:" + colour : "");
    cell.title = titleOf(d);
    describe(cell, d);
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

  function drawBoxes() {
    var fragment = document.createDocumentFragment();
    boxes(current).descendants().forEach(function (node) {
      // A rectangle under two pixels across shows nothing but its border.
      if (node.depth === 0 || node.x1 - node.x0 < 2 || node.y1 - node.y0 < 2) return;
      drawCell(fragment, node);
    });
    return fragment;
  }

  // The path of a ring's sector from angle a0 to a1 (clockwise from twelve
  // o'clock) between the radii r0 and r1 around (cx, cy).
  function sector(cx, cy, a0, a1, r0, r1) {
    a1 = Math.min(a1, a0 + 2 * Math.PI - 1e-4);
    var large = a1 - a0 > Math.PI ? 1 : 0;
    var at = function (a, r) { return (cx + r * Math.sin(a)).toFixed(2) + "," + (cy - r * Math.cos(a)).toFixed(2); };
    return "M" + at(a0, r1) + "A" + r1 + "," + r1 + " 0 " + large + " 1 " + at(a1, r1) + "L" + at(a1, r0) +
      (r0 > 0 ? "A" + r0 + "," + r0 + " 0 " + large + " 0 " + at(a0, r0) : "") + "Z";
  }

  function drawRings() {
    var width = map.clientWidth, height = map.clientHeight;
    var svg = document.createElementNS(SVG, "svg");
    svg.setAttribute("width", width);
    svg.setAttribute("height", height);
    var placed = rings(current);
    var levels = Math.min(placed.height, RINGS);
    var ring = Math.min(width, height) / 2 / (levels + 1);
    placed.descendants().forEach(function (node) {
      if (node.depth > levels) return;
      var r0 = node.depth === 0 ? 0 : node.y0 * ring, r1 = node.y1 * ring;
      // A sector under a pixel and a half along its outer edge shows nothing.
      if (node.depth > 0 && (node.x1 - node.x0) * r1 < 1.5) return;
      var d = node.data;
      var arc = document.createElementNS(SVG, "path");
      arc.setAttribute("class", "arc" + (isFolder(d) ? " folder" : ""));
      arc.setAttribute("d", sector(width / 2, height / 2, node.x0, node.x1, r0, r1));
      arc.setAttribute("fill", node.depth === 0 ? "#ffffff" : colourOf(d.node));
      var title = document.createElementNS(SVG, "title");
      title.textContent = titleOf(d);
      arc.appendChild(title);
      describe(arc, d);
      svg.appendChild(arc);
    });
    return svg;
  }

  function draw() {
    drawnSize = map.clientWidth + "x" + map.clientHeight;
    var drawing = ringsChoice.checked ? drawRings() : drawBoxes();
    map.textContent = "";
    map.appendChild(drawing);
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
      var link = document.createElement("a");
      link.href = addressOf(node);
      link.textContent = text;
      crumbs.appendChild(link);
    });
  }

  // ---- Views and their addresses -------------------------------------------
  // A view's address is "#/" and the names of its folder's path, each
  // percent-encoded, separated by "/" on every system; a path that is not a
  // folder on the map opens the nearest folder above it.

  function addressOf(node) {
    var names = pathOf(node).split(separator).filter(function (name) { return name !== ""; });
    return "#/" + names.map(encodeURIComponent).join("/");
  }

  function nodeOfAddress(hash) {
    var names;
    try {
      names = hash.replace(/^#\/?/, "").split("/").filter(function (name) { return name !== ""; })
        .map(decodeURIComponent);
    } catch (error) {
      return tree;
    }
    var lead = data.root.n.charAt(0) === separator ? separator : "";
    for (; names.length > 0; names.pop()) {
      var node = folderAt.get(lead + names.join(separator));
      if (node) return node;
    }
    return tree;
  }

  function show(node) {
    current = node;
    draw();
  }

  function go(node) {
    if (node !== current) location.hash = addressOf(node);
  }

  // The folder of the view, one level down, that holds the clicked node.
  function zoomFrom(element) {
    if (!element || element.dataset.id === undefined) return;
    var node = nodes[Number(element.dataset.id)];
    if (node === current) {
      if (current.parent) go(current.parent);
      return;
    }
    var step = node.ancestors().filter(function (a) { return a.parent === current; })[0];
    if (step && isFolder(step.data) && step.children) go(step);
  }

  window.addEventListener("hashchange", function () {
    show(nodeOfAddress(location.hash));
    var first = map.querySelector(".cell, .arc");
    if (first) first.focus();
  });
  map.addEventListener("click", function (event) { zoomFrom(event.target.closest("[data-id]")); });
  map.addEventListener("keydown", function (event) {
    if (event.key === "Enter") zoomFrom(event.target.closest("[data-id]"));
  });
  document.addEventListener("keydown", function (event) {
    if (event.key === "Escape" && current.parent) go(current.parent);
  });
  colourChoice.addEventListener("change", function () {
    drawLegend();
    draw();
  });
  ringsChoice.addEventListener("change", draw);
  window.addEventListener("resize", function () {
    var size = map.clientWidth + "x" + map.clientHeight;
    if (size !== drawnSize) draw();
  });

  drawLegend();
  show(nodeOfAddress(location.hash));
})();
