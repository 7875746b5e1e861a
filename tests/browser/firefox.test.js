// The first meeting with every style, hostile text and the question in Firefox.
import { engineSuite } from './engines.js';

engineSuite('firefox');
